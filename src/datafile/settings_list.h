// The parsed "settings.txt": section/key/value entries in order of first insertion, looked up
// with ASCII case ignored. Every lookup is a linear scan; the text has a few dozen lines.
#ifndef QUENVALE_DATAFILE_SETTINGS_LIST_H_
#define QUENVALE_DATAFILE_SETTINGS_LIST_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quenvale {

struct SettingsEntry {
  std::string Key;
  std::string Value;
  std::string Section;
};

class SettingsList {
 public:
  int IndexOf(const std::string& key, const std::string& section) const;
  // Adds or replaces; a key met twice keeps the key text of its first occurrence.
  void SetValue(const std::string& key, const std::string& value, const std::string& section);
  std::string GetValue(const std::string& key, const std::string& section) const;
  bool GetBool(const std::string& key, const std::string& section) const;
  std::string GetValueDef(const std::string& def, const std::string& key,
                          const std::string& section) const;
  // The value converted with StrToInt; a missing or non-numeric value throws ConvertError
  // naming section and key: "bounce nrImages: 'abc' is not a valid integer value".
  int32_t GetInteger(const std::string& key, const std::string& section) const;

  const std::vector<SettingsEntry>& Entries() const { return entries_; }

 private:
  std::vector<SettingsEntry> entries_;
};

// Fills `list` from the settings text. Lines end in CR LF only; "//" starts a comment, and so
// does an apostrophe that stands before a "//" on the same line. Nothing in the text is an error.
void ParseSettingsText(const std::string& text, SettingsList* list);

// Observations about a settings text that make it read differently from how it looks; the
// parser itself never reports them. `line` is 1-based in the CR LF-split text.
struct SettingsTextRemark {
  enum Kind { kLoneLineFeed, kByteOrderMark, kBlankAroundEquals, kCommentCut } kind;
  int line;
  std::string text;
};
std::vector<SettingsTextRemark> InspectSettingsText(const std::string& text);

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_SETTINGS_LIST_H_
