#include "platform/posix/file_value_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "datafile/zip_test_util.h"

namespace quenvale {
namespace {

namespace fs = std::filesystem;
using testutil::TempDir;

constexpr char kKey[] = "Software\\Quenvale Demo";

RegistryData Data(uint32_t type, const std::string& bytes) {
  RegistryData data;
  data.type = type;
  data.bytes = bytes;
  return data;
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = testutil::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  testutil::WriteFileBytes(path, testutil::Bytes(text));
}

std::vector<std::string> FilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_directory()) files.push_back(entry.path().string());
  }
  return files;
}

class FileValueStoreTest : public ::testing::Test {
 protected:
  void Save(const std::string& key, const std::string& name, const RegistryData& data,
            FileValueStore* store = nullptr) {
    std::unique_ptr<ValueKey> k = (store ? store : &store_)->OpenKey(key, true);
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->WriteValue(name, data));
    k->Close();
  }
  std::optional<RegistryData> Load(const std::string& key, const std::string& name) {
    FileValueStore fresh(folder_);  // nothing cached from the writer
    std::unique_ptr<ValueKey> k = fresh.OpenKey(key, false);
    RegistryData data;
    if (k == nullptr || !k->ReadValue(name, &data)) return std::nullopt;
    return data;
  }

  TempDir dir_;
  std::string folder_ = dir_.File("cfg");
  std::string file_ = folder_ + "/Software/Quenvale Demo.reg";
  FileValueStore store_{folder_};
};

// ---- Data types --------------------------------------------------------------------------

struct RoundTripCase {
  const char* label;
  RegistryData data;
  const char* form;  // how the data starts in the file
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }

class RoundTripTest : public FileValueStoreTest,
                      public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, ReadsBackWhatWasWrittenAsOneRegistryEditorValue) {
  const RoundTripCase& c = GetParam();
  Save(kKey, "v", c.data);
  const std::optional<RegistryData> read = Load(kKey, "v");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->type, c.data.type);
  EXPECT_EQ(read->bytes, c.data.bytes);

  // One value line, wrapped only with the editor's backslash-and-two-blanks continuation.
  std::istringstream lines(ReadText(file_));
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(lines, line);
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.rfind(std::string("\"v\"=") + c.form, 0), 0u) << line;
  while (!line.empty() && line.back() == '\\') {
    EXPECT_LE(line.size(), 80u);
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
  }
  EXPECT_LE(line.size(), 80u);
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(std::getline(lines, line));
}

std::string Sequence(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 7);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, RoundTripTest,
    ::testing::Values(
        RoundTripCase{"Dword", RegistryData::Dword(10), "dword:"},
        RoundTripCase{"DwordAllBits", RegistryData::Dword(0xFFFFFFFFu), "dword:"},
        RoundTripCase{"DwordOfThreeBytes", Data(kRegDword, "abc"), "hex(4):"},
        RoundTripCase{"Binary", RegistryData::Binary(std::string("\0\x01\xff\x7f", 4)), "hex:"},
        RoundTripCase{"LongBinary", RegistryData::Binary(Sequence(300)), "hex:"},
        RoundTripCase{"EmptyBinary", RegistryData::Binary(""), "hex:"},
        RoundTripCase{"QuotesBackslashes", RegistryData::String("say \"hi\" C:\\dir\\"), "\""},
        RoundTripCase{"CrLf", RegistryData::String("Arial\r\n12\nbold\r"), "\""},
        RoundTripCase{"NonAscii",
                      RegistryData::String("Gr\xC3\xBC\xC3\x9F"
                                           "e \xE2\x9C\x93 "
                                           "\xF0\x9D\x84\x9E"),
                      "\""},
        RoundTripCase{"EmptyString", RegistryData::String(""), "\""},
        RoundTripCase{"EmbeddedZero", RegistryData::String(std::string("a\0b", 3)), "\""},
        RoundTripCase{"Latin1Bytes", RegistryData::String("caf\xE9"), "\""},
        RoundTripCase{"StringWithoutZero", Data(kRegSz, "abc"), "hex(1):"},
        RoundTripCase{"ExpandSz", Data(kRegExpandSz, std::string("%APPDATA%\\B\xC3\xBC\0", 14)),
                      "hex(2):"},
        RoundTripCase{"LongExpandSz", Data(kRegExpandSz, std::string(150, 'x') + '\0'), "hex(2):"},
        RoundTripCase{"MultiSz", Data(kRegMultiSz, std::string("one\0zwei \xC3\x9F\0\0", 13)),
                      "hex(7):"},
        RoundTripCase{"Qword", Data(kRegQword, "\x01\x02\x03\x04\x05\x06\x07\x08"), "hex(b):"},
        RoundTripCase{"DwordBigEndian",
                      Data(kRegDwordBigEndian, std::string("\x00\x00\x01\x02", 4)), "hex(5):"},
        RoundTripCase{"None", Data(kRegNone, "zz"), "hex(0):"},
        RoundTripCase{"LargeTypeNumber", Data(0x12345, "q"), "hex(12345):"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FileValueStoreTest, WritesTheRegistryEditorsText) {
  std::unique_ptr<ValueKey> key = store_.OpenKey("Software\\Quenvale Demo\\", true);
  key->WriteValue("", RegistryData::String("Quenvale"));
  key->WriteValue("Speed", RegistryData::Dword(10));
  key->WriteValue("Font", RegistryData::String("Arial\r\n\"x\"\\"));
  key->WriteValue("Pic", RegistryData::Binary("\x01\x02\xff"));
  key->WriteValue("Path", Data(kRegExpandSz, std::string("%A%\xC3\xBC\0", 6)));
  std::string data;
  for (int i = 0; i < 40; ++i) data += static_cast<char>(i);
  key->WriteValue("Data", RegistryData::Binary(data));
  key->Close();
  EXPECT_EQ(ReadText(file_),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Quenvale Demo]\n"
            "@=\"Quenvale\"\n"
            "\"Speed\"=dword:0000000a\n"
            "\"Font\"=\"Arial\\r\\n\\\"x\\\"\\\\\"\n"
            "\"Pic\"=hex:01,02,ff\n"
            "\"Path\"=hex(2):25,00,41,00,25,00,fc,00,00,00\n"
            "\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
            "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\n"
            "\n");
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const std::string& folder : {folder_, folder_ + "/Software"}) {
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
}

TEST_F(FileValueStoreTest, ReadsAWindowsRegistryEditorExport) {
  // UTF-16LE with byte-order mark, CR LF, wrapped hex lists, a comment and a deletion.
  const std::u16string text =
      u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Quenvale Demo]\r\n"
      u"\"Title\"=\"Gr\u00FC\u00DFe aus K\u00F6ln \u2713\"\r\n"
      u"; hand-edited\r\n"
      u"\"Speed\"=dword:0000001E\r\n"
      u"\"Path\"=hex(2):25,00,55,00,53,00,45,00,52,00,50,00,52,00,4f,00,46,00,49,00,4c,\\\r\n"
      u"  00,45,00,25,00,5c,00,42,00,69,00,6c,00,64,00,00,00\r\n"
      u"\"Fonts\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"
      u"\"Gone\"=\"x\"\r\n"
      u"\"gone\"=-\r\n"
      u"@ = \"default\"\r\n\r\n";
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  WriteText(dir_.File("cfg/Software/Quenvale Demo.reg"), bytes);

  std::unique_ptr<ValueKey> key = store_.OpenKey("software\\QUENVALE DEMO", false);
  ASSERT_NE(key, nullptr);
  RegistryData data;
  ASSERT_TRUE(key->ReadValue("title", &data));
  EXPECT_EQ(data.bytes, RegistryData::String("Gr\xC3\xBC\xC3\x9F"
                                             "e aus K\xC3\xB6ln \xE2\x9C\x93")
                            .bytes);
  ASSERT_TRUE(key->ReadValue("SPEED", &data));
  EXPECT_EQ(data.bytes, RegistryData::Dword(30).bytes);
  ASSERT_TRUE(key->ReadValue("Path", &data));
  EXPECT_EQ(data.type, kRegExpandSz);
  EXPECT_EQ(data.bytes, std::string("%USERPROFILE%\\Bild\0", 19));
  ASSERT_TRUE(key->ReadValue("Fonts", &data));
  EXPECT_EQ(data.bytes, std::string("A\0B\0\0", 5));
  EXPECT_FALSE(key->ReadValue("Gone", &data));
  ASSERT_TRUE(key->ReadValue("", &data));
  EXPECT_EQ(data.bytes, RegistryData::String("default").bytes);

  // Saving rewrites the whole key as UTF-8 and keeps everything it held.
  key->WriteValue("New", RegistryData::Dword(1));
  key->Close();
  EXPECT_EQ(ReadText(file_).rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  const std::optional<RegistryData> path = Load(kKey, "path");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->bytes, std::string("%USERPROFILE%\\Bild\0", 19));
  EXPECT_TRUE(Load(kKey, "Title").has_value());
  EXPECT_FALSE(Load(kKey, "Gone").has_value());
}

struct LenientCase {
  const char* label;
  const char* text;
  RegistryData expected;  // of value "a"
};
void PrintTo(const LenientCase& c, std::ostream* os) { *os << c.label; }

class LenientReadTest : public ::testing::TestWithParam<LenientCase> {};

TEST_P(LenientReadTest, ReadsWhatAHandEditedFileMayHold) {
  const RegFileContents contents = ParseRegFile(GetParam().text, "f.reg", "Software\\K");
  ASSERT_EQ(contents.values.size(), 1u);
  EXPECT_EQ(contents.values[0].first, "a");
  EXPECT_EQ(contents.values[0].second.type, GetParam().expected.type);
  EXPECT_EQ(contents.values[0].second.bytes, GetParam().expected.bytes);
}

#define V5 "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\K]\r\n"
INSTANTIATE_TEST_SUITE_P(
    Variants, LenientReadTest,
    ::testing::Values(
        LenientCase{"Regedit4EightBitStrings",
                    "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\K]\n\"a\"=hex(2):41,e9,00\n",
                    Data(kRegExpandSz, std::string("A\xE9\0", 3))},
        LenientCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF" V5 "\"a\"=\"x\"\r\n",
                    RegistryData::String("x")},
        LenientCase{"CommentsBlanksAndSpaces", V5 "; c\r\n\r\n  \"a\"\t= \tdword:0000000A  \r\n",
                    RegistryData::Dword(10)},
        LenientCase{"LaterLineWinsKeepingFirstSpelling", V5 "\"a\"=\"x\"\r\n\"A\"=\"y\"\r\n",
                    RegistryData::String("y")},
        LenientCase{"DeletedThenWrittenAgain", V5 "\"a\"=\"x\"\r\n\"a\"=-\r\n\"a\"=\"z\"\r\n",
                    RegistryData::String("z")},
        LenientCase{"KeyLineInOtherCase",
                    "Windows Registry Editor Version 5.00\n[hkey_current_user\\SOFTWARE\\k\\]\n"
                    "\"a\"=hex:AB, cd ,\\\n\n",
                    RegistryData::Binary("\xAB\xCD")},
        LenientCase{"OddUtf16Length", V5 "\"a\"=hex(1):41,00,42\r\n", Data(kRegSz, "AB")},
        LenientCase{"UnpairedSurrogate", V5 "\"a\"=hex(1):00,d8,41,00\r\n",
                    Data(kRegSz,
                         "\xEF\xBF\xBD"
                         "A")},
        LenientCase{"EscapedName",
                    V5 "\"a\"=\"\\0\\\\\"\r\n\"\\\"\\r\"=dword:00000000\r\n"
                       "\"\\\"\\r\"=-\r\n",
                    RegistryData::String(std::string("\0\\", 2))}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- Damage ------------------------------------------------------------------------------

struct DamageCase {
  const char* label;
  const char* text;
  int line;
  const char* what;
};
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

class DamageTest : public FileValueStoreTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageTest, ThrowsWithPathAndLineAndNeverOverwrites) {
  const DamageCase& c = GetParam();
  const std::string message = file_ + ":" + std::to_string(c.line) + ": " + c.what;
  Save(kKey, "kept", RegistryData::Dword(1));
  std::unique_ptr<ValueKey> opened_before = store_.OpenKey(kKey, true);
  ASSERT_NE(opened_before, nullptr);
  opened_before->WriteValue("new", RegistryData::Dword(2));

  WriteText(file_, c.text);
  for (bool create : {false, true}) {
    try {
      store_.OpenKey(kKey, create);
      ADD_FAILURE() << "no error, create=" << create;
    } catch (const ValueStoreError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  try {
    opened_before->Close();
    ADD_FAILURE() << "Close saved over a damaged file";
  } catch (const ValueStoreError& e) {
    EXPECT_EQ(e.what(), message);
  }
  EXPECT_EQ(ReadText(file_), c.text);
  EXPECT_EQ(FilesUnder(folder_), std::vector<std::string>{file_});
}

#define HEAD \
  "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quenvale Demo]\n"
INSTANTIATE_TEST_SUITE_P(
    Kinds, DamageTest,
    ::testing::Values(
        DamageCase{"BadHeader", "Windows Registry Editor Version 4.00\n", 1,
                   "not a registry file (bad header)"},
        DamageCase{"Empty", "", 1, "not a registry file (bad header)"},
        DamageCase{"OtherKey", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n", 3,
                   "key line names another key"},
        DamageCase{"OtherRoot", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quenvale Demo]\n", 2,
                   "key line names another key"},
        DamageCase{"RootNotFirst", "REGEDIT4\n[\\HKEY_CURRENT_USER\\Software\\Quenvale Demo]\n", 2,
                   "key line names another key"},
        DamageCase{"KeyDeletion", "REGEDIT4\n[-HKEY_CURRENT_USER\\Software\\Quenvale Demo]\n", 2,
                   "key deletion line"},
        DamageCase{"TwoKeyLines", HEAD "\"a\"=\"x\"\n[HKEY_CURRENT_USER\\Software]\n", 5,
                   "more than one key line"},
        DamageCase{"UnclosedKeyLine", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\n", 2,
                   "malformed key line"},
        DamageCase{"ValueBeforeKey", "REGEDIT4\n\"a\"=\"x\"\n", 2,
                   "value line before the key line"},
        DamageCase{"NoEquals", HEAD "\"a\"=\"x\"\n\"b\" \"y\"\n", 5, "malformed value line"},
        DamageCase{"UnknownType", HEAD "\"a\"=str:x\n", 4, "malformed value line"},
        DamageCase{"Unterminated", HEAD "\"a\"=\"x\n", 4, "unterminated string"},
        DamageCase{"UnterminatedName", HEAD "\"a\\\"=1\n", 4, "unterminated string"},
        DamageCase{"BadEscape", HEAD "\"a\"=\"x\\q\"\n", 4, "bad escape in string"},
        DamageCase{"TextAfterString", HEAD "\"a\"=\"x\" y\n", 4, "malformed string value"},
        DamageCase{"ShortDword", HEAD "\n\"a\"=dword:0000001\n", 5, "malformed dword value"},
        DamageCase{"LongDword", HEAD "\"a\"=dword:000000001\n", 4, "malformed dword value"},
        DamageCase{"DwordNotHex", HEAD "\"a\"=dword:0000000g\n", 4, "malformed dword value"},
        DamageCase{"HexDigit", HEAD "\"a\"=hex:0g\n", 4, "bad hex value"},
        DamageCase{"HexGap", HEAD "\"a\"=hex:01,,02\n", 4, "bad hex value"},
        DamageCase{"HexLoneComma", HEAD "\"a\"=hex:,\n", 4, "bad hex value"},
        DamageCase{"HexThreeDigits", HEAD "\"a\"=hex:123\n", 4, "bad hex value"},
        DamageCase{"HexOnContinuation", HEAD "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 6,
                   "bad hex value"},
        DamageCase{"HexType", HEAD "\"a\"=hex(zz):00\n", 4, "malformed hex type"},
        DamageCase{"HexTypeTooLong", HEAD "\"a\"=hex(123456789):00\n", 4, "malformed hex type"},
        DamageCase{"HexPastEnd", HEAD "\"a\"=hex:01,\\", 4,
                   "hex value continues past the end of the file"},
        DamageCase{"StrayLine", HEAD "hello\n", 4, "malformed line"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ParseRegFileTest, TruncatedUtf16FileIsDamage) {
  const std::string text(
      "\xFF\xFER\0E\0G\0E\0D\0I\0T\0"
      "4\0\n\0\n",
      21);
  try {
    ParseRegFile(text, "f.reg", "K");
    ADD_FAILURE() << "no error";
  } catch (const ValueStoreError& e) {
    EXPECT_STREQ(e.what(), "f.reg:2: truncated UTF-16 text");
  }
}

// ---- Keys, names and folders -------------------------------------------------------------

TEST_F(FileValueStoreTest, KeyAndValueNamesIgnoreAsciiCase) {
  Save(kKey, "Speed", RegistryData::Dword(1));
  Save("SOFTWARE\\quenvale DEMO\\", "SPEED", RegistryData::Dword(2));
  Save("software\\\\Quenvale demo", "other", RegistryData::Dword(3));
  EXPECT_EQ(FilesUnder(folder_), std::vector<std::string>{file_});
  const std::string text = ReadText(file_);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Quenvale Demo]\n\"Speed\"=dword:00000002\n"
                      "\"other\"=dword:00000003\n"),
            std::string::npos)
      << text;

  // A folder and file someone made in other letter case are found, not duplicated.
  WriteText(folder_ + "/other/KEY.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Other\\key]\n\"x\"=\"1\"\n");
  Save("OTHER\\Key", "y", RegistryData::String("2"));
  EXPECT_EQ(FilesUnder(folder_ + "/other"), std::vector<std::string>{folder_ + "/other/KEY.reg"});
  EXPECT_TRUE(Load("Other\\Key", "X").has_value());
}

TEST_F(FileValueStoreTest, KeyNamesStayInsideTheFolderAndDoNotCollide) {
  const std::vector<std::string> keys = {"..\\..\\escape",
                                         "a/../../b",
                                         "/etc/passwd",
                                         ".hidden\\x",
                                         "..",
                                         ".",
                                         "%2F",
                                         "a/b",
                                         "a%2Fb",
                                         "x.reg\\y",
                                         "x.reg",
                                         "x",
                                         "X.REG.tmp.1",
                                         "ctl\x01",
                                         "sub\\x.reg"};
  const std::string root = dir_.File("a/b/cfg");  // room for ".." to land inside the temp folder
  FileValueStore store(root);
  for (const std::string& key : keys) Save(key, "k", RegistryData::String(key), &store);
  for (const std::string& key : keys) {
    FileValueStore fresh(root);
    std::unique_ptr<ValueKey> k = fresh.OpenKey(key, false);
    ASSERT_NE(k, nullptr) << key;
    RegistryData data;
    ASSERT_TRUE(k->ReadValue("k", &data)) << key;
    EXPECT_EQ(data.bytes, RegistryData::String(key).bytes) << key;
  }
  const std::vector<std::string> all = FilesUnder(dir_.path());
  EXPECT_EQ(all.size(), keys.size());
  for (const std::string& file : all) {
    EXPECT_EQ(file.rfind(root + "/", 0), 0u) << file;
    for (const auto& part : fs::path(file.substr(root.size() + 1))) {
      EXPECT_NE(part.string()[0], '.') << file;
    }
  }
  for (const char* bad : {"", "\\", "\\\\\\", "a\\b\r\nc"}) {
    EXPECT_EQ(store.OpenKey(bad, true), nullptr) << bad;
  }
}

TEST_F(FileValueStoreTest, OpenCreatesNothingUntilAWriteIsClosed) {
  EXPECT_EQ(store_.OpenKey(kKey, false), nullptr);
  store_.OpenKey(kKey, true)->Close();  // no writes: nothing to save
  {
    std::unique_ptr<ValueKey> key = store_.OpenKey(kKey, true);
    key->WriteValue("a", RegistryData::Dword(1));
    RegistryData data;
    EXPECT_TRUE(key->ReadValue("A", &data));  // its own writes show before Close
  }                                           // dropped without Close
  EXPECT_FALSE(fs::exists(folder_));
  EXPECT_EQ(store_.OpenKey(kKey, false), nullptr);

  // Closing an unchanged key leaves a hand-written file's text alone.
  const std::string text =
      "REGEDIT4\r\n; mine\r\n[HKEY_CURRENT_USER\\" + std::string(kKey) + "]\r\n\"a\" = \"1\"\r\n";
  WriteText(file_, text);
  std::unique_ptr<ValueKey> key = store_.OpenKey(kKey, false);
  ASSERT_NE(key, nullptr);
  key->Close();
  EXPECT_EQ(ReadText(file_), text);
}

// ---- Several writers, crashes, failures ----------------------------------------------------

TEST_F(FileValueStoreTest, TwoWritersKeepEachOthersValuesAndTheLastWriterWins) {
  Save(kKey, "untouched", RegistryData::Dword(7));
  FileValueStore other(folder_);
  std::unique_ptr<ValueKey> first = store_.OpenKey(kKey, true);
  std::unique_ptr<ValueKey> second = other.OpenKey(kKey, true);
  first->WriteValue("mine", RegistryData::Dword(1));
  first->WriteValue("shared", RegistryData::Dword(1));
  second->WriteValue("theirs", RegistryData::Dword(2));
  second->WriteValue("SHARED", RegistryData::Dword(2));
  second->Close();
  first->Close();
  EXPECT_EQ(Load(kKey, "untouched").value().bytes, RegistryData::Dword(7).bytes);
  EXPECT_EQ(Load(kKey, "mine").value().bytes, RegistryData::Dword(1).bytes);
  EXPECT_EQ(Load(kKey, "theirs").value().bytes, RegistryData::Dword(2).bytes);
  EXPECT_EQ(Load(kKey, "shared").value().bytes, RegistryData::Dword(1).bytes);
  RegistryData data;
  ASSERT_TRUE(first->ReadValue("theirs", &data));  // Close brought the other's values in
}

TEST_F(FileValueStoreTest, ConcurrentProcessesLoseNoValue) {
  constexpr int kChildren = 4;
  constexpr int kRounds = 25;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        FileValueStore store(folder_);
        for (int r = 0; r < kRounds; ++r) {
          std::unique_ptr<ValueKey> key = store.OpenKey(kKey, true);
          key->WriteValue("c" + std::to_string(c) + "_" + std::to_string(r),
                          RegistryData::Dword(r));
          key->Close();
        }
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < kChildren; ++c) {
    for (int r = 0; r < kRounds; ++r) {
      EXPECT_TRUE(Load(kKey, "c" + std::to_string(c) + "_" + std::to_string(r)).has_value())
          << c << " " << r;
    }
  }
}

TEST_F(FileValueStoreTest, CrashBeforeTheRenameLeavesTheEarlierFile) {
  Save(kKey, "v", RegistryData::Dword(1));
  const std::string before = ReadText(file_);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    FileValueStore::Faults faults;
    faults.exit_before_rename = true;
    FileValueStore store(folder_);
    store.set_faults(faults);
    try {
      std::unique_ptr<ValueKey> key = store.OpenKey(kKey, true);
      key->WriteValue("v", RegistryData::Dword(2));
      key->Close();
    } catch (...) {
      _exit(3);
    }
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the crash did not happen";
  const std::string temp = file_ + ".tmp." + std::to_string(pid);
  ASSERT_TRUE(fs::exists(temp));  // what the crashed writer left behind
  EXPECT_EQ(ReadText(file_), before);
  EXPECT_EQ(Load(kKey, "v").value().bytes, RegistryData::Dword(1).bytes);

  Save(kKey, "w", RegistryData::Dword(3));
  EXPECT_EQ(Load(kKey, "v").value().bytes, RegistryData::Dword(1).bytes);
  EXPECT_TRUE(Load(kKey, "w").has_value());
}

class WriteFailureTest : public FileValueStoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(WriteFailureTest, ThrowsWithThePathAndLeavesTheEarlierFile) {
  Save(kKey, "v", RegistryData::Dword(1));
  const std::string before = ReadText(file_);
  FileValueStore::Faults faults;
  faults.write_error = GetParam();
  store_.set_faults(faults);
  std::unique_ptr<ValueKey> key = store_.OpenKey(kKey, true);
  key->WriteValue("v", RegistryData::String(std::string(5000, 'x')));
  try {
    key->Close();
    ADD_FAILURE() << "no error";
  } catch (const ValueStoreError& e) {
    EXPECT_EQ(e.what(), "Cannot save settings to '" + file_ + "': " + std::strerror(GetParam()));
  }
  EXPECT_EQ(ReadText(file_), before);
  EXPECT_EQ(FilesUnder(folder_), std::vector<std::string>{file_});
}

INSTANTIATE_TEST_SUITE_P(Errors, WriteFailureTest, ::testing::Values(ENOSPC, EIO, EACCES));

TEST_F(FileValueStoreTest, RealFailureToCreateTheTemporaryFileIsReported) {
  Save(kKey, "v", RegistryData::Dword(1));
  const std::string before = ReadText(file_);
  // Something that is not a file sits where the temporary file would go.
  const std::string blocker = file_ + ".tmp." + std::to_string(getpid());
  fs::create_directory(blocker);
  std::unique_ptr<ValueKey> key = store_.OpenKey(kKey, true);
  key->WriteValue("v", RegistryData::Dword(2));
  try {
    key->Close();
    ADD_FAILURE() << "no error";
  } catch (const ValueStoreError& e) {
    EXPECT_EQ(e.what(), "Cannot save settings to '" + file_ + "': " + std::strerror(EISDIR));
  }
  EXPECT_EQ(ReadText(file_), before);
  EXPECT_TRUE(fs::is_directory(blocker));
}

// ---- Where the folder is -----------------------------------------------------------------

struct FolderCase {
  const char* label;
  const char* xdg;  // null: unset
  const char* home;
  const char* expected;
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.label; }

class DefaultFolderTest : public ::testing::TestWithParam<FolderCase> {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_P(DefaultFolderTest, FollowsTheXdgBaseDirectoryRules) {
  const FolderCase& c = GetParam();
  if (c.xdg) {
    setenv("XDG_CONFIG_HOME", c.xdg, 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  setenv("HOME", c.home, 1);
  EXPECT_EQ(FileValueStore::DefaultFolder(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, DefaultFolderTest,
    ::testing::Values(FolderCase{"Xdg", "/x/conf", "/home/u", "/x/conf/quenvale"},
                      FolderCase{"XdgTrailingSlash", "/x/conf/", "/home/u", "/x/conf/quenvale"},
                      FolderCase{"Unset", nullptr, "/home/u", "/home/u/.config/quenvale"},
                      FolderCase{"Empty", "", "/home/u/", "/home/u/.config/quenvale"},
                      FolderCase{"Relative", "conf", "/home/u", "/home/u/.config/quenvale"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quenvale
