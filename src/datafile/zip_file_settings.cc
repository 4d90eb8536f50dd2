#include "datafile/zip_file_settings.h"

#include <cstdio>

namespace quenvale {

const char kPasswordWord[] = "quenval";
const char kProductSite[] = "www.quenvale.org";
const char kSettingsEntryName[] = "settings.txt";

namespace {

std::string ReinstallAdvice() {
  return std::string("\r\n\r\nPlease try reinstalling the screensaver.\r\n\r\n") +
         "If that fails, download the latest version from " + kProductSite + " and try again.";
}

// The file name after the last folder separator. Windows paths use "\"; the Linux engine and
// saverpack see "/" as well.
std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReplaceFirst(std::string s, size_t pos, size_t length, const std::string& with) {
  if (pos != std::string::npos) s.replace(pos, length, with);
  return s;
}

// The extraction failures that say something is wrong with an entry that is there.
bool IsDamage(ExtractStatus status) {
  switch (status) {
    case ExtractStatus::kTooLarge:
    case ExtractStatus::kUnsupported:
    case ExtractStatus::kDamaged:
    case ExtractStatus::kCrcMismatch:
    case ExtractStatus::kOverlapping:
      return true;
    case ExtractStatus::kOk:
    case ExtractStatus::kBusy:
    case ExtractStatus::kNoArchive:
    case ExtractStatus::kNotFound:
    case ExtractStatus::kWrongPassword:
      return false;
  }
  return false;
}

}  // namespace

std::string NoDataFileMessage() {
  return "No data file found or missing settings in data file." + ReinstallAdvice();
}

std::string CorruptedDataFileMessage() {
  return "Corrupted data files detected [pwdata01]" + ReinstallAdvice();
}

std::string ArchivePasswordFor(const std::string& executable_path) {
  return kPasswordWord + UpperCase(FileNameOf(executable_path).substr(0, 5));
}

void DataFileHost::Notice(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
}

std::string DefaultApplicationTitle(const std::string& executable_path) {
  std::string name = FileNameOf(executable_path);
  // A name that is all extension (".scr") keeps it rather than becoming no title at all.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string DataFilePathFor(const std::string& executable_path) {
  std::string path = ReplaceFirst(executable_path, FindNoCase(executable_path, ".scr"), 4, ".dat");
  return ReplaceFirst(path, path.find(' '), 1, "_");
}

std::string ExecutableNameForDataFile(const std::string& data_file_path) {
  std::string name = FileNameOf(data_file_path);
  name = ReplaceFirst(name, FindNoCase(name, ".dat"), 4, ".scr");
  return ReplaceFirst(name, name.find('_'), 1, " ");
}

ZipFileSettings::ZipFileSettings(DataFileHost& host, SaverMode mode) : host_(host), mode_(mode) {
  const std::string executable = host_.ExecutablePath();
  archive_password_ = ArchivePasswordFor(executable);
  zip_.OnPasswordError = [this](bool, std::string&, const std::string&, uint32_t&,
                                MessageAction&) {
    host_.Fatal(CorruptedDataFileMessage(), kExitWrongPassword);
  };
  zip_.OnMessage = [this](const std::string& message) { host_.ArchiveMessage(message); };
  zip_.SetPassword(archive_password_);
  data_file_path_ = host_.DataFilePath();
  host_.OpenArchive(zip_, data_file_path_);
  ReadSettings(kSettingsEntryName);
  host_.SetApplicationTitle(settings_list_.GetValue("title", "general"));
}

void ZipFileSettings::ReadSettings(const std::string& entry_name) {
  std::string text;
  // Without an extraction the archive's last status says nothing about this entry.
  const bool extracts = !zip_.IsBusy() && zip_.EntryCount() > 0;
  if (!GetEntryText(entry_name, &text)) {
    // A settings entry that is there but cannot be read is damage, neither a missing settings
    // text nor a wrong password: the host hears what is wrong before the fatal message.
    if (extracts && IsDamage(zip_.LastStatus())) {
      host_.ArchiveMessage(zip_.ZipFileName() + ": " + zip_.LastProblem());
    }
    host_.Fatal(NoDataFileMessage(), kExitNoDataFile);
  }
  ParseSettingsText(text, &settings_list_);
}

void ZipFileSettings::ListSets() {
  for (int i = 0; i < zip_.EntryCount(); ++i) {
    const std::string& name = zip_.EntryAt(i).FileName;
    if (name == kSettingsEntryName) continue;
    const size_t slash = name.rfind('\\');
    const size_t dot = name.rfind('.');
    const size_t base_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = LowerCase(slash == std::string::npos ? "" : name.substr(0, slash));
    std::string set_name;
    if (dot != std::string::npos && dot + 1 > base_start) {
      set_name = LowerCase(name.substr(base_start, dot - base_start));
    }

    enum { kBackground, kIcon, kThumb, kOther } kind = kOther;
    if (folder == "backgrounds") kind = kBackground;
    else if (folder == "icons") kind = kIcon;
    else if (folder == "icons\\thumbs") kind = kThumb;

    bool used = false;
    switch (mode_) {
      case SaverMode::smSave:
      case SaverMode::smConfigure: used = kind != kThumb; break;
      case SaverMode::smPreview: used = kind == kBackground || kind == kThumb; break;
      case SaverMode::smChangePassword: used = false; break;
    }
    if (!used) continue;

    // The index by name keeps grouping linear in the entry count; the list keeps the order.
    const auto [found, added] = set_index_.emplace(set_name, static_cast<int>(sets_.size()));
    const int index = found->second;
    if (added) sets_.push_back(ImageSet{set_name, {}, {}});
    if (kind == kBackground) sets_[index].Backgrounds.push_back(name);
    if (kind == kIcon || kind == kThumb) sets_[index].Pictures.push_back(name);
  }
}

const EntryBuffer* ZipFileSettings::GetEntryData(const std::string& name) {
  zip_.SetPassword(archive_password_);
  if (zip_.IsBusy() || zip_.EntryCount() <= 0) return nullptr;
  return zip_.ExtractEntryToMemory(name);
}

bool ZipFileSettings::GetEntryText(const std::string& name, std::string* text) {
  const EntryBuffer* data = GetEntryData(name);
  if (data == nullptr) return false;
  text->assign(data->begin(), data->end());
  return true;
}

bool ZipFileSettings::LoadPicture(Picture* picture, const std::string& name,
                                  LoadedPictureInfo* info) {
  const EntryBuffer* data = GetEntryData(name);
  if (data == nullptr) return false;
  return DecodePicture(data->data(), data->size(), name, picture, info);
}

int ZipFileSettings::IndexOfSet(const std::string& name) const {
  const auto found = set_index_.find(name);
  return found == set_index_.end() ? -1 : found->second;
}

void ZipFileSettings::SelectSet(int index) {
  const int count = static_cast<int>(sets_.size());
  if (count == 0) {
    current_set_index_ = -1;
    return;
  }
  current_set_index_ = index;
  if (current_set_index_ >= count) current_set_index_ = 0;
  if (current_set_index_ < 0) current_set_index_ = count - 1;
}

void ZipFileSettings::SelectRandomSet() {
  if (sets_.empty()) {
    current_set_index_ = -1;
    return;
  }
  SelectSet(host_.Random(static_cast<int32_t>(sets_.size())));
}

}  // namespace quenvale
