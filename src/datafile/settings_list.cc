#include "datafile/settings_list.h"

#include "common/strings.h"

namespace quenvale {

int SettingsList::IndexOf(const std::string& key, const std::string& section) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameText(entries_[i].Key, key) && SameText(entries_[i].Section, section)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void SettingsList::SetValue(const std::string& key, const std::string& value,
                            const std::string& section) {
  int i = IndexOf(key, section);
  if (i < 0) {
    entries_.push_back(SettingsEntry{key, std::string(), std::string()});
    i = static_cast<int>(entries_.size()) - 1;
  }
  entries_[i].Section = section;
  entries_[i].Value = value;
}

std::string SettingsList::GetValue(const std::string& key, const std::string& section) const {
  int i = IndexOf(key, section);
  return i < 0 ? std::string() : entries_[i].Value;
}

bool SettingsList::GetBool(const std::string& key, const std::string& section) const {
  int i = IndexOf(key, section);
  return i >= 0 && LowerCase(entries_[i].Value) == "true";
}

std::string SettingsList::GetValueDef(const std::string& def, const std::string& key,
                                      const std::string& section) const {
  int i = IndexOf(key, section);
  return (i < 0 || entries_[i].Value.empty()) ? def : entries_[i].Value;
}

int32_t SettingsList::GetInteger(const std::string& key, const std::string& section) const {
  try {
    return StrToInt(GetValue(key, section));
  } catch (const ConvertError& e) {
    throw ConvertError(section + " " + key + ": " + e.what());
  }
}

namespace {

// Where the comment of a line begins (0-based), or npos.
size_t CommentStart(const std::string& line) {
  size_t c = line.find("//");
  if (c == std::string::npos) return c;
  size_t a = line.find('\'');
  return a < c ? a : c;
}

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  return s.substr(begin, end - begin);
}

}  // namespace

void ParseSettingsText(const std::string& text, SettingsList* list) {
  std::string section;
  for (const std::string& raw : SplitString("\r\n", text)) {
    std::string line = raw;
    size_t comment = CommentStart(line);
    if (comment != std::string::npos) line.resize(comment);
    line = Trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.find(']', 1);
      section = close == std::string::npos ? std::string() : line.substr(1, close - 1);
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    list->SetValue(line.substr(0, equals), line.substr(equals + 1), section);
  }
}

std::vector<SettingsTextRemark> InspectSettingsText(const std::string& text) {
  std::vector<SettingsTextRemark> remarks;
  if (StartsWith(text, "\xEF\xBB\xBF") || StartsWith(text, "\xFF\xFE") ||
      StartsWith(text, "\xFE\xFF")) {
    remarks.push_back({SettingsTextRemark::kByteOrderMark, 1, std::string()});
  }
  int number = 0;
  size_t start = 0;
  // Split without dropping blank lines, so that the reported numbers match an editor's.
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    ++number;
    if (line.find('\n') != std::string::npos) {
      remarks.push_back({SettingsTextRemark::kLoneLineFeed, number, line.substr(0, 60)});
    }
    size_t comment = CommentStart(line);
    std::string kept = Trim(comment == std::string::npos ? line : line.substr(0, comment));
    // A deliberate comment has a blank before it; a cut inside a word ("http://...", "it's //")
    // loses part of a value.
    if (comment != std::string::npos && comment > 0 && line[comment - 1] != ' ' &&
        line[comment - 1] != '\t' && !kept.empty() && kept[0] != '[' &&
        kept.find('=') != std::string::npos) {
      remarks.push_back({SettingsTextRemark::kCommentCut, number, Trim(line)});
    }
    if (!kept.empty() && kept[0] != '[') {
      size_t equals = kept.find('=');
      if (equals != std::string::npos &&
          ((equals > 0 && kept[equals - 1] == ' ') ||
           (equals + 1 < kept.size() && kept[equals + 1] == ' '))) {
        remarks.push_back({SettingsTextRemark::kBlankAroundEquals, number, kept});
      }
    }
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return remarks;
}

}  // namespace quenvale
