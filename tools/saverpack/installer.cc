// saverpack installer: writes an NSIS script for one saver and has makensis compile it.
//
// The script is written here rather than kept as a template file beside saverpack, so that
// saverpack stays one program with nothing to find at run time, on Linux and on Windows. Every
// text that comes from the saver or the command line reaches the script through NsisQuoted only:
// in the header's compile-time lines (name, captions, version resource) and in the "StrCpy"
// lines that fill the script's variables. The rest of the script is fixed text, which builds
// its paths and registry keys from those variables when the installer runs.
#include "saverpack/installer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <system_error>

#include "common/code_page.h"
#include "common/strings.h"
#include "saverpack/saverpack.h"

#ifdef _WIN32
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace saverpack {

std::string NsisQuoted(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '$':
        out += "$$";
        break;
      case '"':
        out += "$\\\"";
        break;
      // "${" would start a define even after "$$"; the preprocessor's own character define
      // puts the brace back after it has looked for defines.
      case '{':
        out += "${U+7B}";
        break;
      case '\r':
        out += "$\\r";
        break;
      case '\n':
        out += "$\\n";
        break;
      case '\t':
        out += "$\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

namespace {

// Little-endian reads that fail on the file's end instead of reading past it.
class PeReader {
 public:
  PeReader(const std::vector<uint8_t>& bytes, const std::string& path)
      : bytes_(bytes), path_(path) {}
  uint32_t U16(size_t at) const {
    Need(at, 2);
    return bytes_[at] | bytes_[at + 1] << 8;
  }
  uint32_t U32(size_t at) const {
    Need(at, 4);
    return U16(at) | U16(at + 2) << 16;
  }
  void Need(size_t at, size_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) {
      throw Failure(path_ + ": a damaged Windows executable (its resources run past its end)");
    }
  }
  const uint8_t* At(size_t at) const { return bytes_.data() + at; }
  const std::string& path() const { return path_; }

 private:
  const std::vector<uint8_t>& bytes_;
  const std::string& path_;
};

constexpr uint32_t kIconType = 3;        // RT_ICON
constexpr uint32_t kIconGroupType = 14;  // RT_GROUP_ICON

// The resource section of a PE file: its directory tree, addressed by RVA.
class Resources {
 public:
  explicit Resources(const PeReader& pe) : pe_(pe) {
    if (pe.U16(0) != 0x5A4D) throw Failure(pe.path() + ": not a Windows executable");
    const uint32_t header = pe.U32(0x3C);
    if (pe.U32(header) != 0x00004550) throw Failure(pe.path() + ": not a Windows executable");
    const uint32_t sections = pe.U16(header + 6);
    const uint32_t optional_size = pe.U16(header + 20);
    const size_t optional = header + 24;
    const uint32_t magic = pe.U16(optional);
    // The data directories follow the fields of PE32 (0x10b) or PE32+ (0x20b).
    const size_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (directories + 3 * 8 > optional + optional_size) return;  // no resource directory entry
    root_ = pe.U32(directories + 2 * 8);
    if (root_ == 0) return;
    for (uint32_t i = 0; i < sections; ++i) {
      const size_t section = optional + optional_size + i * 40;
      sections_.push_back({pe.U32(section + 12), pe.U32(section + 16), pe.U32(section + 20)});
    }
  }

  // The data of resource type/id (any language; the first id when id is 0), or false.
  bool Find(uint32_t type, uint32_t id, size_t* offset, uint32_t* size) const {
    if (root_ == 0) return false;
    size_t level;
    if (!Entry(Offset(root_), type, &level) || !IsDirectory(level)) return false;
    size_t names = Offset(root_ + (pe_.U32(level) & 0x7FFFFFFF));
    size_t language;
    if (!Entry(names, id, &language)) return false;
    if (IsDirectory(language)) {
      const size_t languages = Offset(root_ + (pe_.U32(language) & 0x7FFFFFFF));
      if (!Entry(languages, 0, &language)) return false;
      if (IsDirectory(language)) return false;
    }
    const size_t data = Offset(root_ + pe_.U32(language));
    *offset = Offset(pe_.U32(data));
    *size = pe_.U32(data + 4);
    pe_.Need(*offset, *size);
    return true;
  }

 private:
  struct Section {
    uint32_t rva, raw_size, file_offset;
  };
  bool IsDirectory(size_t entry) const { return (pe_.U32(entry) & 0x80000000) != 0; }
  // The file offset of an RVA inside one of the sections.
  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.rva && rva - s.rva < s.raw_size) return size_t{s.file_offset} + (rva - s.rva);
    }
    throw Failure(pe_.path() + ": a damaged Windows executable (a resource outside its sections)");
  }
  // In the directory at `directory`, the entry with numeric id `id` (the first one when id is
  // 0); sets *value to the offset of its second field.
  bool Entry(size_t directory, uint32_t id, size_t* value) const {
    const uint32_t count = pe_.U16(directory + 12) + pe_.U16(directory + 14);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = directory + 16 + i * 8;
      if (id == 0 || pe_.U32(entry) == id) {
        *value = entry + 4;
        return true;
      }
    }
    return false;
  }

  const PeReader& pe_;
  uint32_t root_ = 0;
  std::vector<Section> sections_;
};

void PutU16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}
void PutU32(std::vector<uint8_t>* out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

}  // namespace

std::vector<uint8_t> IconFromExecutable(const std::vector<uint8_t>& executable,
                                        const std::string& path) {
  const PeReader pe(executable, path);
  const Resources resources(pe);
  size_t group;
  uint32_t group_size;
  if (!resources.Find(kIconGroupType, 0, &group, &group_size)) return {};
  // The group is an .ico header whose entries name RT_ICON resources instead of offsets.
  const uint32_t count = pe.U16(group + 4);
  if (group_size < 6 + count * 14) throw Failure(path + ": a damaged icon group");
  std::vector<uint8_t> ico;
  PutU16(&ico, 0);
  PutU16(&ico, 1);
  PutU16(&ico, count);
  std::vector<uint8_t> images;
  size_t offset = 6 + size_t{count} * 16;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = group + 6 + i * 14;
    size_t image;
    uint32_t image_size;
    if (!resources.Find(kIconType, pe.U16(entry + 12), &image, &image_size)) {
      throw Failure(path + ": its icon group names an icon it does not have");
    }
    ico.insert(ico.end(), pe.At(entry), pe.At(entry) + 8);  // size, colours, planes, bits
    PutU32(&ico, image_size);
    PutU32(&ico, static_cast<uint32_t>(offset));
    images.insert(images.end(), pe.At(image), pe.At(image) + image_size);
    offset += image_size;
  }
  ico.insert(ico.end(), images.begin(), images.end());
  return ico;
}

std::string NumericVersion(const std::string& version) {
  std::string out;
  size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t end = std::min(version.find('.', start), version.size());
    const std::string digits = start < version.size() ? version.substr(start, end - start) : "0";
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) > 65535) {
      return "";
    }
    out += (part ? "." : "") + std::to_string(std::stoi(digits));
    start = end + 1;
  }
  return start <= version.size() ? "" : out;  // more than four parts
}

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string PublisherFromCopyright(const std::string& copyright) {
  std::string rest = Trim(copyright);
  bool marked = false;
  // "Copyright", "(c)" and the sign itself (0xA9 in Windows-1252), in any order and number.
  for (bool found = true; found;) {
    found = false;
    for (const std::string word : {"copyright", "(c)", "\xA9"}) {
      if (quenvale::StartsWith(quenvale::LowerCase(rest), word)) {
        rest = Trim(rest.substr(word.size()));
        found = marked = true;
      }
    }
  }
  if (!marked) return "";
  // Years and year ranges: "2020-2026", "2024, 2026".
  const size_t years = rest.find_first_not_of("0123456789-,/ ");
  rest = years == std::string::npos ? "" : rest.substr(years);
  if (quenvale::StartsWith(quenvale::LowerCase(rest), "by ")) rest = rest.substr(3);
  const size_t reserved = quenvale::FindNoCase(rest, "all rights reserved");
  if (reserved != std::string::npos) rest = rest.substr(0, reserved);
  rest = Trim(rest);
  while (!rest.empty() && (rest.back() == '.' || rest.back() == ',')) rest.pop_back();
  return Trim(rest);
}

namespace {

// What the installer says and where it puts things, in Windows-1252 as the settings hold it.
struct SaverFacts {
  std::string scr_name;  // "Acme Logos.scr"
  std::string title;
  std::string version;
  std::string publisher;
  std::string url;
  std::string copyright;
};

// A title as the stem of a Windows file name: without the characters Windows refuses and
// without trailing dots and blanks.
std::string FileStemFor(const std::string& title) {
  std::string stem;
  for (const char c : title) {
    if (static_cast<unsigned char>(c) >= 32 &&
        std::string("\\/:*?\"<>|").find(c) == std::string::npos) {
      stem += c;
    }
  }
  while (!stem.empty() && (stem.back() == '.' || stem.back() == ' ')) stem.pop_back();
  return Trim(stem);
}

std::string StemOf(const std::string& scr_name) {
  const size_t at = quenvale::FindNoCase(scr_name, ".scr");
  return at == std::string::npos ? scr_name : scr_name.substr(0, at);
}

void ReadFacts(const quenvale::SettingsList& settings, SaverFacts* facts) {
  facts->title = settings.GetValue("title", "general");
  facts->version = Trim(settings.GetValue("version", "general"));
  facts->url = Trim(settings.GetValue("url", "general"));
  facts->copyright = Trim(settings.GetValue("copyright", "general"));
}

// The installer's script after its header. The saver's texts come in through the variables
// that the "Names" macro fills (@NAMES@).
const char kScriptBody[] = R"NSIS(
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

Var Title
Var ScrName
Var DatName
Var UninstallerName
Var UninstallKey
Var Version
Var Publisher
Var Url
Var ForWhom

!macro Names
@NAMES@
  StrCpy $UninstallKey "Software\Microsoft\Windows\CurrentVersion\Uninstall\$ScrName"
!macroend

!define DESKTOP_KEY "Control Panel\Desktop"
!define SPI_SETSCREENSAVEACTIVE 17

!define MUI_ICON "saver.ico"
!define MUI_UNICON "saver.ico"
!define MUI_WELCOMEPAGE_TEXT "This installs the screen saver $Title $ForWhom and makes it your screen saver.$\r$\n$\r$\nClick Install to start."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Open the Screen Saver Settings"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenScreenSaverSettings
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; $0 becomes 1 when $INSTDIR holds a blank or ".scr": the engine finds its data file by turning
; the first ".scr" of its whole path into ".dat" and the first blank into "_".
Function BadFolder
  StrCpy $0 0
  StrCpy $1 0
  ${Do}
    StrCpy $2 $INSTDIR 1 $1
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    ${IfThen} $2 == " " ${|} StrCpy $0 1 ${|}
    StrCpy $2 $INSTDIR 4 $1
    ${IfThen} $2 == ".scr" ${|} StrCpy $0 1 ${|}
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd

; The system folder needs an administrator: run by anyone else, the program starts itself again
; with the administrator prompt, with the same switches, and this run ends.
!macro Elevated un
Function ${un}Elevated
  UserInfo::GetAccountType
  Pop $2
  ${If} $2 != "Admin"
    ${GetParameters} $2
    ExecShell "runas" "$EXEPATH" $2
    SetErrorLevel 0
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro Elevated ""
!insertmacro Elevated "un."

; $0 becomes 1 when the value in $0 names the installed saver, long or short.
!macro IsOurSaver un
Function ${un}IsOurSaver
  StrCpy $1 0
  ${If} $0 == "$INSTDIR\$ScrName"
    StrCpy $1 1
  ${Else}
    GetFullPathName /SHORT $2 "$INSTDIR\$ScrName"
    ${If} $2 != ""
    ${AndIf} $0 == $2
      StrCpy $1 1
    ${EndIf}
  ${EndIf}
  StrCpy $0 $1
FunctionEnd
!macroend
!insertmacro IsOurSaver ""
!insertmacro IsOurSaver "un."

Function .onInit
  !insertmacro Names
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "$Title needs a 64-bit Windows." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/CURRENTUSER" $1
  ${If} ${Errors}
    Call Elevated
    SetShellVarContext all
    StrCpy $INSTDIR "$SYSDIR"
    StrCpy $ForWhom "for every user of this computer"
  ${Else}
    SetShellVarContext current
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\ScreenSavers"
    StrCpy $ForWhom "for you"
  ${EndIf}
FunctionEnd

Function OpenScreenSaverSettings
  Exec '"$SYSDIR\control.exe" desk.cpl,,@screensaver'
FunctionEnd

Section "Install"
  ; Per user, what this install makes that others may share, for its uninstall to take away:
  ; the folder, its parent and the list of uninstallers, unless they were there before or this
  ; saver is installed again.
  StrCpy $5 0
  StrCpy $6 0
  StrCpy $7 0
  ClearErrors
  ReadRegDWORD $0 SHCTX "$UninstallKey" "NoModify"
  ${If} ${Errors}
  ${AndIf} $INSTDIR != $SYSDIR
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
      StrCpy $5 1
    ${EndIf}
    ${GetParent} "$INSTDIR" $0
    ${IfNot} ${FileExists} "$0\*.*"
      StrCpy $6 1
    ${EndIf}
    ClearErrors
    EnumRegKey $0 HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall" 0
    ${IfThen} ${Errors} ${|} StrCpy $7 1 ${|}
  ${EndIf}
  SetOutPath "$INSTDIR"
  Call BadFolder
  ${If} $0 == 1
    GetFullPathName /SHORT $1 "$INSTDIR"
    ${IfThen} $1 != "" ${|} StrCpy $INSTDIR $1 ${|}
    Call BadFolder
  ${EndIf}
  ${If} $0 == 1
    MessageBox MB_ICONSTOP "$Title cannot be installed into $INSTDIR: the saver would not find its data file from a folder whose path holds a blank or $\".scr$\". Install it for every user instead." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=$ScrName" "engine.scr"
  File "/oname=$DatName" "saver.dat"
  WriteUninstaller "$INSTDIR\$UninstallerName"

  ; Remember the saver this one replaces, unless it is this one (installed again).
  ClearErrors
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${If} ${Errors}
    StrCpy $4 0
  ${Else}
    StrCpy $4 1
    StrCpy $3 $0
    Call IsOurSaver
  ${EndIf}
  ${If} $4 == 0
  ${OrIf} $0 != 1
    DeleteRegValue SHCTX "$UninstallKey" "PreviousScreenSaver"
    DeleteRegValue SHCTX "$UninstallKey" "PreviousScreenSaveActive"
    ${IfThen} $4 == 1 ${|} WriteRegStr SHCTX "$UninstallKey" "PreviousScreenSaver" $3 ${|}
    ClearErrors
    ReadRegStr $0 HKCU "${DESKTOP_KEY}" "ScreenSaveActive"
    ${IfNot} ${Errors}
      WriteRegStr SHCTX "$UninstallKey" "PreviousScreenSaveActive" $0
    ${EndIf}
  ${EndIf}

  WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$INSTDIR\$ScrName"
  WriteRegStr HKCU "${DESKTOP_KEY}" "ScreenSaveActive" "1"
  System::Call 'user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i 1, p 0, i 3)'

  WriteRegStr SHCTX "$UninstallKey" "DisplayName" $Title
  WriteRegStr SHCTX "$UninstallKey" "DisplayIcon" "$INSTDIR\$ScrName,0"
  WriteRegStr SHCTX "$UninstallKey" "UninstallString" '"$INSTDIR\$UninstallerName"'
  WriteRegStr SHCTX "$UninstallKey" "QuietUninstallString" '"$INSTDIR\$UninstallerName" /S'
  WriteRegStr SHCTX "$UninstallKey" "InstallLocation" "$INSTDIR"
  ${IfThen} $Version != "" ${|} WriteRegStr SHCTX "$UninstallKey" "DisplayVersion" $Version ${|}
  ${IfThen} $Publisher != "" ${|} WriteRegStr SHCTX "$UninstallKey" "Publisher" $Publisher ${|}
  ${IfThen} $Url != "" ${|} WriteRegStr SHCTX "$UninstallKey" "URLInfoAbout" $Url ${|}
  WriteRegDWORD SHCTX "$UninstallKey" "EstimatedSize" @SIZE_KB@
  WriteRegDWORD SHCTX "$UninstallKey" "NoModify" 1
  WriteRegDWORD SHCTX "$UninstallKey" "NoRepair" 1
  ${IfThen} $5 == 1 ${|} WriteRegDWORD SHCTX "$UninstallKey" "MadeFolder" 1 ${|}
  ${IfThen} $6 == 1 ${|} WriteRegDWORD SHCTX "$UninstallKey" "MadeParentFolder" 1 ${|}
  ${IfThen} $7 == 1 ${|} WriteRegDWORD SHCTX "$UninstallKey" "MadeUninstallList" 1 ${|}
SectionEnd

Function un.onInit
  !insertmacro Names
  ${If} $INSTDIR == $SYSDIR
    Call un.Elevated
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Give the previous saver back, unless the user has chosen another one since.
  ClearErrors
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${IfNot} ${Errors}
    Call un.IsOurSaver
    ${If} $0 == 1
      ; Windows is told first (it stores what it is told); the values are then put back exactly.
      ClearErrors
      ReadRegStr $1 SHCTX "$UninstallKey" "PreviousScreenSaveActive"
      ${IfThen} ${Errors} ${|} StrCpy $1 0 ${|}
      ${IfThen} $1 != 1 ${|} StrCpy $1 0 ${|}
      System::Call 'user32::SystemParametersInfoW(i ${SPI_SETSCREENSAVEACTIVE}, i $1, p 0, i 3)'
      ClearErrors
      ReadRegStr $1 SHCTX "$UninstallKey" "PreviousScreenSaver"
      ${If} ${Errors}
        DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
      ${Else}
        WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" $1
      ${EndIf}
      ClearErrors
      ReadRegStr $1 SHCTX "$UninstallKey" "PreviousScreenSaveActive"
      ${If} ${Errors}
        DeleteRegValue HKCU "${DESKTOP_KEY}" "ScreenSaveActive"
      ${Else}
        WriteRegStr HKCU "${DESKTOP_KEY}" "ScreenSaveActive" $1
      ${EndIf}
    ${EndIf}
  ${EndIf}

  ReadRegDWORD $5 SHCTX "$UninstallKey" "MadeFolder"
  ReadRegDWORD $6 SHCTX "$UninstallKey" "MadeParentFolder"
  ReadRegDWORD $7 SHCTX "$UninstallKey" "MadeUninstallList"
  Delete /REBOOTOK "$INSTDIR\$ScrName"
  Delete /REBOOTOK "$INSTDIR\$DatName"
  Delete "$INSTDIR\$UninstallerName"
  DeleteRegKey SHCTX "$UninstallKey"
  ; What the install made, if nothing else has come into it since.
  ${If} $INSTDIR != $SYSDIR
    ${GetParent} "$INSTDIR" $0
    ${IfThen} $5 == 1 ${|} RMDir "$INSTDIR" ${|}
    ${IfThen} $6 == 1 ${|} RMDir "$0" ${|}
    ${IfThen} $7 == 1 ${|} DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall" ${|}
  ${EndIf}
SectionEnd
)NSIS";

std::string ReplaceOnce(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The script for the saver; texts in Windows-1252, the script in UTF-8.
std::string InstallerScript(const SaverFacts& facts, const std::string& out_name,
                            uint64_t payload_bytes) {
  auto q = [](const std::string& cp1252) { return NsisQuoted(quenvale::Utf8FromCp1252(cp1252)); };
  const std::string version = facts.version.empty() ? "0" : facts.version;
  const std::string numeric = NumericVersion(facts.version);
  std::string header = "\xEF\xBB\xBF";  // the byte-order mark makes makensis read UTF-8
  auto line = [&header](const std::string& text) { header += text + "\n"; };
  line("; The setup program of a Quenvale screen saver, written by saverpack installer.");
  line("; makensis compiles it here; it packs engine.scr, saver.dat and saver.ico beside it.");
  line("Unicode true");
  line("Target amd64-unicode");
  line("!pragma warning error all");
  line("SetCompressor /SOLID lzma");
  // Asks for an administrator only where one is needed: see Elevated in the script.
  line("RequestExecutionLevel user");
  line("ManifestDPIAware true");
  line("Name " + q(facts.title) + " " + q(quenvale::ReplaceAll(facts.title, "&", "&&")));
  line("Caption " + q(facts.title + " Setup"));
  line("UninstallCaption " + q(facts.title + " Uninstall"));
  line("BrandingText " + q(facts.version.empty() ? facts.title : facts.title + " " + version));
  line("OutFile " + NsisQuoted(out_name));
  line("VIProductVersion " + (numeric.empty() ? "0.0.0.0" : numeric));
  line("VIAddVersionKey /LANG=0 ProductName " + q(facts.title));
  line("VIAddVersionKey /LANG=0 FileDescription " + q(facts.title + " Setup"));
  line("VIAddVersionKey /LANG=0 FileVersion " + q(version));
  line("VIAddVersionKey /LANG=0 ProductVersion " + q(version));
  if (!facts.copyright.empty()) {
    line("VIAddVersionKey /LANG=0 LegalCopyright " + q(facts.copyright));
  }
  if (!facts.publisher.empty()) line("VIAddVersionKey /LANG=0 CompanyName " + q(facts.publisher));

  std::string names;
  auto set = [&names, &q](const char* variable, const std::string& cp1252) {
    names += std::string(names.empty() ? "" : "\n") + "  StrCpy $" + variable + " " + q(cp1252);
  };
  set("Title", facts.title);
  set("ScrName", facts.scr_name);
  set("DatName", quenvale::DataFilePathFor(facts.scr_name));
  set("UninstallerName", "Uninstall " + StemOf(facts.scr_name) + ".exe");
  set("Version", facts.version);
  set("Publisher", facts.publisher);
  set("Url", facts.url.empty() ? "" : quenvale::LinkAddress(facts.url));
  std::string body = ReplaceOnce(kScriptBody, "@NAMES@", names);
  return header + ReplaceOnce(body, "@SIZE_KB@", std::to_string((payload_bytes + 1023) / 1024));
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path.string() + ": cannot be read");
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw Failure(path.string() + ": cannot be written");
}
void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// A folder of its own under the system's temporary folder, removed with the object.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = fs::temp_directory_path() /
              ("saverpack-installer-" + std::to_string(random() % 1000000000));
      std::error_code ec;
      if (fs::create_directory(path_, ec)) return;
    }
    throw Failure(fs::temp_directory_path().string() + ": no temporary folder could be made");
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// makensis on the PATH, or empty.
fs::path FindMakensis() {
#ifdef _WIN32
  const char separator = ';';
  const char* const name = "makensis.exe";
#else
  const char separator = ':';
  const char* const name = "makensis";
#endif
  const char* path = std::getenv("PATH");
  for (const std::string& folder :
       quenvale::SplitString(std::string(1, separator), path ? path : "")) {
    if (folder.empty()) continue;
    const fs::path candidate = fs::path(folder) / name;
    std::error_code ec;
    if (!fs::is_regular_file(candidate, ec)) continue;
#ifndef _WIN32
    if (access(candidate.c_str(), X_OK) != 0) continue;
#endif
    return candidate;
  }
  return {};
}

// Runs makensis on the script in its folder, its output into `log`; the exit status.
int RunMakensis(const fs::path& makensis, const fs::path& script, const fs::path& log) {
  const std::string log_option = "-O" + log.string();
  std::vector<std::string> words = {makensis.string(), "-V2", log_option, script.string()};
#ifdef _WIN32
  // _spawnv joins the words with blanks: quote each, as the C runtime splits them again.
  std::vector<std::string> quoted;
  for (const std::string& word : words) quoted.push_back("\"" + word + "\"");
  std::vector<const char*> argv;
  for (const std::string& word : quoted) argv.push_back(word.c_str());
  argv.push_back(nullptr);
  const intptr_t status = _spawnv(_P_WAIT, makensis.string().c_str(), argv.data());
  if (status == -1) throw Failure(makensis.string() + ": cannot be started");
  return static_cast<int>(status);
#else
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid;
  const int error = posix_spawn(&pid, makensis.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    throw Failure(makensis.string() +
                  ": cannot be started: " + std::generic_category().message(error));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw Failure(makensis.string() + ": lost track of it");
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
#endif
}

}  // namespace

int CommandInstaller(const Args& args) {
  if (args.positional.size() != 2 || !args.Has("--engine")) {
    throw Failure(
        "usage: saverpack installer SOURCE_DIR|DATAFILE \"OUT/Setup NAME.exe\" --engine ENGINE "
        "[--title TITLE] [--publisher NAME] [--scr NAME.scr] [--script DIR]");
  }
  const std::string source = args.positional[0];
  const fs::path out = args.positional[1];
  const std::string out_name = out.filename().u8string();
  if (!quenvale::EndsWith(quenvale::LowerCase(out_name), ".exe")) {
    throw Failure(out.string() + ": the installer's name must end in \".exe\"");
  }
  const fs::path engine_path = args.Get("--engine");
  std::error_code ec;
  if (!fs::is_regular_file(engine_path, ec)) {
    throw Failure(engine_path.string() + ": no such engine file");
  }
  const std::vector<uint8_t> engine = ReadFile(engine_path);
  const std::vector<uint8_t> icon = IconFromExecutable(engine, engine_path.string());
  if (icon.empty()) throw Failure(engine_path.string() + ": the engine has no icon");

  // The saver: its name, its texts and its data file packed for that name.
  SaverFacts facts;
  std::vector<uint8_t> data_file;
  const std::string title_option = FromTerminal(args.Get("--title"));
  if (fs::is_directory(source, ec)) {
    ReadFacts(OpenedDataFile::FromFolder(source)->Data().Settings(), &facts);
    if (!title_option.empty()) facts.title = title_option;
    std::string stem = FileStemFor(facts.title);
    if (stem.empty()) stem = FileStemFor(FromTerminal(fs::path(source).filename().string()));
    facts.scr_name = args.Has("--scr") ? FromTerminal(args.Get("--scr")) : stem + ".scr";
    PackedFolder packed =
        PackFolder(source, quenvale::ArchivePasswordFor(facts.scr_name), args.Has("--verbose"));
    if (!packed.bad_names.empty()) {
      for (const auto& problem : packed.bad_names) {
        std::fprintf(stderr, "saverpack: %s\n", problem.c_str());
      }
      throw Failure(source + ": " + std::to_string(packed.bad_names.size()) + " file name" +
                    (packed.bad_names.size() == 1 ? "" : "s") + " the engine cannot hold");
    }
    data_file = std::move(packed.archive);
  } else {
    facts.scr_name = FromTerminal(ScrNameFor(args, source));
    OpenedDataFile opened(source, ScrNameFor(args, source), quenvale::SaverMode::smSave);
    ReadFacts(opened.Data().Settings(), &facts);
    if (!title_option.empty()) facts.title = title_option;
    data_file = ReadFile(source);
  }
  if (quenvale::FindNoCase(facts.scr_name, ".scr") == std::string::npos) {
    throw Failure(facts.scr_name + ": the executable name must contain \".scr\"");
  }
  if (facts.scr_name.find_first_of("\\/") != std::string::npos) {
    throw Failure(facts.scr_name + ": the executable name must be a file name, not a path");
  }
  if (facts.title.empty()) facts.title = StemOf(facts.scr_name);
  facts.publisher = args.Has("--publisher") ? FromTerminal(args.Get("--publisher"))
                                            : PublisherFromCopyright(facts.copyright);

  const bool script_only = args.Has("--script");
  std::unique_ptr<TemporaryFolder> temporary;
  fs::path folder;
  fs::path makensis;
  if (script_only) {
    folder = args.Get("--script");
    fs::create_directories(folder, ec);
    if (ec) throw Failure(folder.string() + ": cannot be created: " + ec.message());
  } else {
    makensis = FindMakensis();
    if (makensis.empty()) {
      throw Failure(
          "makensis is not on the PATH; install NSIS (on Debian the package nsis: apt-get "
          "install nsis), or write the script with --script DIR and compile it elsewhere");
    }
    temporary = std::make_unique<TemporaryFolder>();
    folder = temporary->path();
  }
  // makensis works in the script's folder: the script names the files beside it, and its
  // output too, so that the same script compiles on Linux and on Windows.
  const std::string compiled_name = out_name;
  WriteFile(folder / "engine.scr", engine);
  WriteFile(folder / "saver.dat", data_file);
  WriteFile(folder / "saver.ico", icon);
  const fs::path script = folder / "installer.nsi";
  WriteFile(script, InstallerScript(facts, compiled_name, engine.size() + data_file.size()));
  if (script_only) {
    std::printf("%s: the setup program of %s (%s); \"makensis %s\" writes %s beside it\n",
                script.string().c_str(), ForTerminal(facts.title).c_str(),
                ForTerminal(facts.scr_name).c_str(), script.string().c_str(), out_name.c_str());
    return 0;
  }

  const fs::path log = folder / "makensis.log";
  const int status = RunMakensis(makensis, script, log);
  if (status != 0) {
    std::ifstream in(log, std::ios::binary);
    std::fputs(std::string(std::istreambuf_iterator<char>(in), {}).c_str(), stderr);
    throw Failure("makensis failed (exit status " + std::to_string(status) + "); " + out.string() +
                  " was not written");
  }
  if (!out.parent_path().empty()) fs::create_directories(out.parent_path(), ec);
  fs::path temp = out;
  temp += ".saverpack-tmp";
  fs::copy_file(folder / compiled_name, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temp, out, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw Failure(out.string() + ": cannot be written: " + ec.message());
  }
  std::printf("%s: %ju bytes, installs %s and %s (%s%s%s)\n", out.string().c_str(),
              static_cast<uintmax_t>(fs::file_size(out, ec)), ForTerminal(facts.scr_name).c_str(),
              ForTerminal(quenvale::DataFilePathFor(facts.scr_name)).c_str(),
              ForTerminal(facts.title).c_str(), facts.version.empty() ? "" : " ",
              ForTerminal(facts.version).c_str());
  return 0;
}

}  // namespace saverpack
