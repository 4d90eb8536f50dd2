#include <cstdio>
#include <filesystem>
#include <vector>

#include "common/strings.h"
#include "saverpack/saverpack.h"
#include "settings/settings.h"

namespace fs = std::filesystem;
using quenvale::SaverMode;

namespace saverpack {

namespace {

// The settings the engines convert with the strict integer conversion: a missing or
// non-numeric one stops the saver from starting. They are the user's integer settings and
// "select".
struct IntegerSetting {
  const char* key;
  const char* section;
  int32_t most;  // above it the saver brings the value down; 0: no such limit
};
std::vector<IntegerSetting> IntegerSettings() {
  std::vector<IntegerSetting> settings;
  for (const quenvale::UserSetting& s : quenvale::kUserSettings) {
    if (s.kind == quenvale::UserSetting::kInteger) {
      settings.push_back({s.key, s.section, s.saver_limits ? s.max : 0});
    }
  }
  settings.push_back({"select", "sets", 0});
  return settings;
}

// Whether an entry lies directly in "backgrounds", "icons" or "icons\\thumbs" (any case).
bool InPictureFolder(const std::string& name) {
  const size_t slash = name.rfind('\\');
  const std::string folder =
      quenvale::LowerCase(slash == std::string::npos ? "" : name.substr(0, slash));
  return folder == "backgrounds" || folder == "icons" || folder == "icons\\thumbs";
}

class Report {
 public:
  explicit Report(std::string subject) : subject_(std::move(subject)) {}
  // `text` is the engine's, names and values as it reads them.
  void Warn(const std::string& text) { WarnInTerminalText(ForTerminal(text)); }
  void WarnInTerminalText(const std::string& text) {
    std::printf("%s: %s\n", subject_.c_str(), text.c_str());
    ++count_;
  }
  int count() const { return count_; }

 private:
  std::string subject_;
  int count_ = 0;
};

void CheckSettingsText(const std::string& text, Report& report) {
  using Remark = quenvale::SettingsTextRemark;
  for (const Remark& r : quenvale::InspectSettingsText(text)) {
    std::string where = quenvale::Format("settings.txt line %d: ", r.line);
    switch (r.kind) {
      case Remark::kByteOrderMark:
        report.Warn(where +
                    "starts with a byte-order mark; the first line is not read as "
                    "written (save the text as ANSI, without a BOM)");
        break;
      case Remark::kLoneLineFeed:
        report.Warn(where +
                    "has line ends without CR; everything up to the next CR LF is read "
                    "as one line (save with CR LF line ends)");
        break;
      case Remark::kBlankAroundEquals:
        report.Warn(where + "blank around \"=\" becomes part of the key or value: " + r.text);
        break;
      case Remark::kCommentCut:
        report.Warn(where +
                    "\"//\" (or an apostrophe before it) starts a comment, so the value "
                    "is cut there; write links without \"http://\": " +
                    r.text);
        break;
    }
  }
}

// The engine reads the text in the ANSI code page; UTF-8 letters beyond ASCII would show as two
// or three characters each on Windows.
void CheckTextEncoding(const std::string& text, Report& report) {
  if (!quenvale::IsAscii(text) && quenvale::IsUtf8(text)) {
    report.Warn(
        "settings.txt is UTF-8 text; the engine reads Windows-1252 (ANSI), so every letter "
        "beyond ASCII shows as two or three (save the text as Windows-1252)");
  }
}

void CheckSettingValues(const quenvale::SettingsList& settings, Report& report) {
  if (settings.GetValue("title", "general").empty()) {
    report.Warn("settings.txt: no \"title\" in [general]; it names the saver and its settings");
  }
  for (const IntegerSetting& s : IntegerSettings()) {
    const std::string value = settings.GetValue(s.key, s.section);
    int32_t number = 0;
    if (settings.IndexOf(s.key, s.section) < 0) {
      report.Warn(
          quenvale::Format("settings.txt: \"%s\" is missing from [%s]; the saver will "
                           "not start without a number there",
                           s.key, s.section));
    } else if (!quenvale::TryStrToInt(value, &number)) {
      report.Warn(quenvale::Format("settings.txt: \"%s\" in [%s] is not a whole number: '%s'",
                                   s.key, s.section, value.c_str()));
    } else if (s.most > 0 && number > s.most) {
      report.Warn(quenvale::Format("settings.txt: \"%s\" in [%s] is %d; the saver uses at most %d",
                                   s.key, s.section, number, s.most));
    }
  }
  const std::string no_logos = settings.GetValueDef("false", "noBouncingLogos", "bounce");
  try {
    quenvale::StrToBool(no_logos);
  } catch (const quenvale::ConvertError&) {
    report.Warn(
        "settings.txt: \"noBouncingLogos\" in [bounce] is neither true, false nor a "
        "number: '" +
        no_logos + "'");
  }
}

void CheckEntries(quenvale::ZipFileSettings& data, Report& report) {
  quenvale::ZipArchive& zip = data.Zip();
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const std::string& name = zip.EntryAt(i).FileName;
    if (name == quenvale::kSettingsEntryName) continue;
    if (quenvale::SameText(name, quenvale::kSettingsEntryName)) {
      report.Warn(name +
                  ": name it \"settings.txt\" in lower case; otherwise it also becomes an "
                  "image set named \"settings\"");
      continue;
    }
    if (!InPictureFolder(name)) {
      report.Warn(name +
                  ": outside backgrounds, icons and icons\\thumbs; in save mode it makes "
                  "an image set without pictures");
    }
  }
}

void CheckSets(const quenvale::ZipFileSettings& data, const char* mode, const char* picture_folder,
               Report& report) {
  for (const quenvale::ImageSet& set : data.Sets()) {
    const std::string name =
        set.Name.empty() ? "(the set with no name)" : "set \"" + set.Name + "\"";
    if (set.Backgrounds.empty()) {
      report.Warn(quenvale::Format("%s has no background in %s mode", name.c_str(), mode));
    }
    if (set.Pictures.empty()) {
      report.Warn(quenvale::Format("%s has no picture in %s for %s mode", name.c_str(),
                                   picture_folder, mode));
    }
  }
}

// Every picture in the three folders must decode, as the engine will decode it.
void CheckPictures(quenvale::ZipFileSettings& data, Report& report) {
  quenvale::ZipArchive& zip = data.Zip();
  std::vector<std::string> names;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const std::string& name = zip.EntryAt(i).FileName;
    if (InPictureFolder(name)) names.push_back(name);
  }
  for (const std::string& name : names) {
    quenvale::Picture picture;
    try {
      if (!data.LoadPicture(&picture, name)) {
        if (zip.LastStatus() != quenvale::ExtractStatus::kOk) {
          report.Warn(zip.LastProblem());
        } else {
          report.Warn(name +
                      ": not a picture the engine can read (no content test recognises "
                      "it and its extension is not registered)");
        }
      }
    } catch (const quenvale::PictureError& e) {
      report.Warn(name + ": cannot be decoded: " + e.what());
    }
  }
}

}  // namespace

int CommandCheck(const Args& args) {
  if (args.positional.size() != 1)
    throw Failure("usage: saverpack check SOURCE_DIR|DATAFILE [--scr NAME.scr]");
  const std::string target = args.positional[0];
  std::unique_ptr<OpenedDataFile> file;
  std::error_code ec;
  if (fs::is_directory(target, ec)) {
    if (!fs::is_regular_file(fs::path(target) / quenvale::kSettingsEntryName, ec)) {
      throw Failure(target + ": no settings.txt in the folder; the saver cannot start without it");
    }
    file = OpenedDataFile::FromFolder(target);
  } else {
    file = std::make_unique<OpenedDataFile>(target, ScrNameFor(args, target), SaverMode::smSave);
  }
  Report report(target);
  std::string text;
  for (const std::string& problem : file->BadNames()) report.WarnInTerminalText(problem);
  if (file->Data().GetEntryText(quenvale::kSettingsEntryName, &text)) {
    CheckSettingsText(text, report);
    CheckTextEncoding(text, report);
  }
  CheckSettingValues(file->Data().Settings(), report);
  CheckEntries(file->Data(), report);
  CheckPictures(file->Data(), report);

  file->Data().ListSets();
  CheckSets(file->Data(), "save", "icons", report);
  auto preview = file->OpenAs(SaverMode::smPreview);
  preview->ListSets();
  CheckSets(*preview, "preview", "icons\\thumbs", report);
  // A set made only of icons does not exist at all for the preview.
  for (const quenvale::ImageSet& set : file->Data().Sets()) {
    if (!set.Pictures.empty() && preview->IndexOfSet(set.Name) < 0) {
      report.Warn("set \"" + set.Name +
                  "\" has no background and no picture in icons\\thumbs, "
                  "so the preview does not show it");
    }
  }

  if (report.count() == 0) {
    std::printf("%s: no problems found\n", target.c_str());
    return 0;
  }
  std::printf("%d warning%s\n", report.count(), report.count() == 1 ? "" : "s");
  return 1;
}

}  // namespace saverpack
