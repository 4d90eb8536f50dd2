// The data file: the encrypted archive beside the executable, its settings text and its
// pictures grouped into image sets.
#ifndef QUENVALE_DATAFILE_ZIP_FILE_SETTINGS_H_
#define QUENVALE_DATAFILE_ZIP_FILE_SETTINGS_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/command_line.h"
#include "common/strings.h"
#include "datafile/settings_list.h"
#include "datafile/zip_archive.h"
#include "imaging/format_registry.h"
#include "imaging/picture.h"

namespace quenvale {

// The fixed word in front of every data-file password; saverpack and the engines share it.
extern const char kPasswordWord[];
// The product web site named in the fatal messages.
extern const char kProductSite[];
extern const char kSettingsEntryName[];

constexpr int kExitNoDataFile = 1;
constexpr int kExitWrongPassword = 2;

// "No data file found or missing settings in data file." and the rest of its text.
std::string NoDataFileMessage();
// "Corrupted data files detected [pwdata01]" and the rest of its text.
std::string CorruptedDataFileMessage();

// The archive password for an executable: the fixed word and the first five characters of the
// executable's file name, upper-cased.
std::string ArchivePasswordFor(const std::string& executable_path);
// The data file beside an executable: the first ".scr" (any case) becomes ".dat", then the first
// blank becomes "_", wherever in the path they stand.
std::string DataFilePathFor(const std::string& executable_path);
// The application's title until the data file names one: the executable's file name (after
// the last "\" or "/") without its extension.
std::string DefaultApplicationTitle(const std::string& executable_path);
// The executable name a data file belongs to, when nobody says otherwise: ".dat" becomes ".scr"
// and the first "_" a blank. Works on the file name only.
std::string ExecutableNameForDataFile(const std::string& data_file_path);

// What the data-file object needs from the program that runs it.
class DataFileHost {
 public:
  virtual ~DataFileHost() = default;
  // The running program's full path (for saverpack: the executable it packs for).
  virtual std::string ExecutablePath() const = 0;
  // Shows a fatal message and ends the process with `exit_code`. Must not return (a test host
  // may throw instead).
  [[noreturn]] virtual void Fatal(const std::string& message, int exit_code) = 0;
  // The archive's own error messages, one line naming the data file: a damaged directory, or
  // why the settings entry cannot be read (its fatal message follows); shown, then work goes on.
  virtual void ArchiveMessage(const std::string& message) = 0;
  // A uniformly random integer in [0, range), range > 0.
  virtual int32_t Random(int32_t range) = 0;
  virtual void SetApplicationTitle(const std::string& /*title*/) {}
  // Something the user should know that stops nothing (a setting brought into range); goes to
  // standard error unless a host shows it otherwise.
  virtual void Notice(const std::string& message);
  // Where the data file is; the engines use the path rule, saverpack the file it was given.
  virtual std::string DataFilePath() const { return DataFilePathFor(ExecutablePath()); }
  // Names the archive, which reads its directory; tests and saverpack may open it from memory.
  virtual void OpenArchive(ZipArchive& zip, const std::string& path) { zip.SetZipFileName(path); }
};

struct ImageSet {
  std::string Name;          // lower-cased base name shared by the set's entries
  StringArray Backgrounds;   // full entry names, "\" separated, case as stored
  StringArray Pictures;      // from "icons", or from "icons\thumbs" in preview mode
};

class ZipFileSettings {
 public:
  // Opens the data file beside host.ExecutablePath() and reads its settings; a missing data
  // file or settings text and a wrong password end the process through the host. A settings
  // entry that is there but damaged ends it as a missing one, its cause told to ArchiveMessage.
  ZipFileSettings(DataFileHost& host, SaverMode mode);
  ZipFileSettings(const ZipFileSettings&) = delete;
  ZipFileSettings& operator=(const ZipFileSettings&) = delete;

  void ReadSettings(const std::string& entry_name);
  void ListSets();

  bool GetEntryText(const std::string& name, std::string* text);
  // The raw bytes of one entry, for the picture loader; null when the entry cannot be extracted.
  // The buffer belongs to the archive and is overwritten by the next extraction.
  const EntryBuffer* GetEntryData(const std::string& name);
  // Extracts one entry and decodes it: by content first, then by the entry name's extension.
  // False, with `picture` unchanged, when the entry cannot be extracted or no format takes it;
  // a damaged picture throws PictureError.
  bool LoadPicture(Picture* picture, const std::string& name, LoadedPictureInfo* info = nullptr);

  int IndexOfSet(const std::string& name) const;
  void SelectSet(int index);
  void SelectRandomSet();

  const std::string& DataFilePath() const { return data_file_path_; }
  SaverMode Mode() const { return mode_; }
  const SettingsList& Settings() const { return settings_list_; }
  const std::vector<ImageSet>& Sets() const { return sets_; }
  // Null until a set has been selected, and while there are no sets.
  const ImageSet* CurrentSet() const {
    return current_set_index_ >= 0 && current_set_index_ < static_cast<int>(sets_.size())
               ? &sets_[current_set_index_]
               : nullptr;
  }
  int CurrentSetIndex() const { return current_set_index_; }
  ZipArchive& Zip() { return zip_; }
  DataFileHost& Host() { return host_; }

 private:
  DataFileHost& host_;
  SaverMode mode_;
  std::string archive_password_;
  std::string data_file_path_;
  int current_set_index_ = -1;
  SettingsList settings_list_;
  std::vector<ImageSet> sets_;
  std::unordered_map<std::string, int> set_index_;  // a set's name to its place in sets_
  ZipArchive zip_;
};

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_ZIP_FILE_SETTINGS_H_
