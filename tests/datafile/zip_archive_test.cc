#include "datafile/zip_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "datafile/crc32.h"
#include "datafile/zip_test_util.h"

namespace quenvale {
namespace {

using testutil::Bytes;
using testutil::MakeEncryptedZip;
using testutil::MakeRawEntry;
using testutil::RandomBytes;
using testutil::RawEntryOptions;
using testutil::RawZip;
using testutil::RawZipBuilder;
using testutil::TextBytes;

struct PasswordEvent {
  std::string for_file;
  uint32_t repeat_count;
};

// Records each password event and answers with the next of `answers`, then cancels.
void AnswerPasswords(ZipArchive& archive, std::vector<PasswordEvent>* log,
                     std::vector<std::string> answers) {
  archive.OnPasswordError = [log, answers, next = size_t{0}](
                                bool is_zip_action, std::string& new_password,
                                const std::string& for_file, uint32_t& repeat_count,
                                MessageAction& action) mutable {
    EXPECT_FALSE(is_zip_action);
    EXPECT_TRUE(new_password.empty());
    EXPECT_EQ(action, MessageAction::kOk);
    log->push_back({for_file, repeat_count});
    if (next < answers.size())
      new_password = answers[next++];
    else
      action = MessageAction::kCancel;
  };
}

// A wrong password passes the one-byte check with odds 1/256; find one this entry rejects.
std::string RejectedPassword(ZipArchive& archive, const std::string& entry) {
  for (int i = 0; i < 64; ++i) {
    std::vector<PasswordEvent> log;
    AnswerPasswords(archive, &log, {});
    archive.SetPassword("wrong" + std::to_string(i));
    archive.ExtractEntryToMemory(entry);
    if (!log.empty()) {
      archive.OnPasswordError = nullptr;
      return archive.Password();
    }
  }
  ADD_FAILURE() << "no password was rejected";
  return "";
}

// ---- Archives made by Info-ZIP zip ----

class InfoZipArchiveTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!testutil::HaveCommand("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    files_ = {{"Data/Images/Logo.BMP", RandomBytes(20000, 1)},
              {"Data/ReadMe.txt", TextBytes(60000, 2)},
              {"Data/empty.txt", {}},
              {"Settings.ini", Bytes("[Saver]\nSpeed=3\n")}};
    for (const auto& [name, content] : files_)
      testutil::WriteFileBytes(dir_.File("in/" + name), content);
    testutil::WriteFileBytes(dir_.File("in/Empty Folder/Sub/.keep"), {});
    ASSERT_TRUE(
        testutil::RunCommand("rm " + testutil::ShellQuote(dir_.File("in/Empty Folder/Sub/.keep"))));
    const std::string level = GetParam() ? "-0" : "-9";
    ASSERT_TRUE(testutil::RunCommand("cd " + testutil::ShellQuote(dir_.File("in")) +
                                     " && zip -q -r -e -P secret " + level +
                                     " ../a.zip Data Settings.ini 'Empty Folder'"));
    std::string listing;
    ASSERT_TRUE(testutil::RunCommand("unzip -Z1 " + testutil::ShellQuote(zip_path()), &listing));
    ASSERT_NE(listing.find("Data/Images/\n"), std::string::npos) << "no folder entries to drop";
    archive_.SetZipFileName(zip_path());
    archive_.SetPassword("secret");
  }
  std::string zip_path() const { return dir_.File("a.zip"); }

  testutil::TempDir dir_;
  std::map<std::string, std::vector<uint8_t>> files_;
  ZipArchive archive_;
};

TEST_P(InfoZipArchiveTest, ListsFilesWithBackslashesAndWithoutFolders) {
  std::vector<std::string> names;
  for (int i = 0; i < archive_.EntryCount(); ++i) names.push_back(archive_.EntryAt(i).FileName);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Data\\Images\\Logo.BMP", "Data\\ReadMe.txt",
                                             "Data\\empty.txt", "Settings.ini"}));
}

TEST_P(InfoZipArchiveTest, ExtractsByteIdenticalByBackslashNameIgnoringCase) {
  for (const auto& [name, content] : files_) {
    std::string key = name;
    std::replace(key.begin(), key.end(), '/', '\\');
    std::string upper = key;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& k : {key, upper}) {
      const EntryBuffer* data = archive_.ExtractEntryToMemory(k);
      ASSERT_NE(data, nullptr) << k << ": " << archive_.LastProblem();
      EXPECT_EQ(*data, content) << k;
    }
  }
  for (const char* missing : {"Data\\Missing.txt", "Data/ReadMe.txt"}) {
    EXPECT_EQ(archive_.ExtractEntryToMemory(missing), nullptr) << missing;
    EXPECT_EQ(archive_.LastStatus(), ExtractStatus::kNotFound);
  }
}

TEST_P(InfoZipArchiveTest, WrongPasswordRaisesEventAndNeverYieldsData) {
  int events = 0;
  for (int i = 0; i < 20; ++i) {
    std::vector<PasswordEvent> log;
    AnswerPasswords(archive_, &log, {});
    archive_.SetPassword("guess" + std::to_string(i));
    EXPECT_EQ(archive_.ExtractEntryToMemory("data\\readme.txt"), nullptr);
    if (log.empty()) {
      // The check byte matched by chance: the data itself must then fail.
      EXPECT_NE(archive_.LastStatus(), ExtractStatus::kWrongPassword);
      continue;
    }
    ++events;
    EXPECT_EQ(archive_.LastStatus(), ExtractStatus::kWrongPassword);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].for_file, "Data\\ReadMe.txt");
    EXPECT_EQ(log[0].repeat_count, 0u);
  }
  EXPECT_GT(events, 0);
}

TEST_P(InfoZipArchiveTest, HandlerSupplyingTheRightPasswordSucceeds) {
  archive_.SetPassword(RejectedPassword(archive_, "Data\\ReadMe.txt"));
  std::vector<PasswordEvent> log;
  AnswerPasswords(archive_, &log, {"secret"});
  const EntryBuffer* data = archive_.ExtractEntryToMemory("Data\\ReadMe.txt");
  ASSERT_NE(data, nullptr) << archive_.LastProblem();
  EXPECT_EQ(*data, files_["Data/ReadMe.txt"]);
  EXPECT_EQ(log.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Methods, InfoZipArchiveTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Stored" : "Deflated"; });

// ---- Password retries, on an archive of our own ----

class PasswordRetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_.OpenMemory(MakeEncryptedZip({{"a.txt", TextBytes(5000, 4), 0}}, kPassword), "p.zip");
    archive_.SetPassword(RejectedPassword(archive_, "a.txt"));
  }
  const std::string kPassword = std::string(79, 'p') + "!";  // as long as a retry may be
  ZipArchive archive_;
};

TEST_F(PasswordRetryTest, RepeatCountRisesAndStopsAtFifteen) {
  std::vector<PasswordEvent> log;
  AnswerPasswords(archive_, &log, std::vector<std::string>(19, archive_.Password()));
  EXPECT_EQ(archive_.ExtractEntryToMemory("a.txt"), nullptr);
  EXPECT_EQ(archive_.LastStatus(), ExtractStatus::kWrongPassword);
  ASSERT_EQ(log.size(), 20u);
  for (uint32_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].repeat_count, std::min(i, 15u));
}

TEST_F(PasswordRetryTest, RetryUsesAtMostEightyCharacters) {
  std::vector<PasswordEvent> log;
  AnswerPasswords(archive_, &log, {kPassword + "tail"});
  ASSERT_NE(archive_.ExtractEntryToMemory("a.txt"), nullptr);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(PasswordRetryTest, CancelOrEmptyAnswerEndsTheRetries) {
  for (MessageAction action : {MessageAction::kCancel, MessageAction::kAbort}) {
    int calls = 0;
    archive_.OnPasswordError = [&](bool, std::string& pw, const std::string&, uint32_t&,
                                   MessageAction& a) {
      ++calls;
      pw = kPassword;
      a = action;
    };
    EXPECT_EQ(archive_.ExtractEntryToMemory("a.txt"), nullptr);
    EXPECT_EQ(calls, 1);
  }
  std::vector<PasswordEvent> log;
  AnswerPasswords(archive_, &log, {""});
  EXPECT_EQ(archive_.ExtractEntryToMemory("a.txt"), nullptr);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(PasswordRetryTest, ExtractingFromInsideTheEventIsRefusedAsBusy) {
  bool inner_refused = false;
  archive_.OnPasswordError = [&](bool, std::string&, const std::string&, uint32_t&,
                                 MessageAction& action) {
    EXPECT_TRUE(archive_.IsBusy());
    inner_refused = archive_.ExtractEntryToMemory("a.txt") == nullptr &&
                    archive_.LastStatus() == ExtractStatus::kBusy;
    action = MessageAction::kCancel;
  };
  EXPECT_EQ(archive_.ExtractEntryToMemory("a.txt"), nullptr);
  EXPECT_TRUE(inner_refused);
  EXPECT_FALSE(archive_.IsBusy());
  archive_.SetPassword(kPassword);
  EXPECT_NE(archive_.ExtractEntryToMemory("a.txt"), nullptr);
}

// ---- Reading the directory ----

struct DirectoryCase {
  const char* name;
  std::function<std::vector<uint8_t>()> make;
};

RawZipBuilder TwoEntries() {
  RawZipBuilder b;
  b.entries = {MakeRawEntry("one.txt", Bytes("first")), MakeRawEntry("two.txt", Bytes("second"))};
  return b;
}

void PrintTo(const DirectoryCase& c, std::ostream* os) { *os << c.name; }

class DamagedDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(DamagedDirectoryTest, ReportsOnceAndKeepsNoEntries) {
  ZipArchive archive;
  std::vector<std::string> messages;
  archive.OnMessage = [&](const std::string& m) { messages.push_back(m); };
  archive.OpenMemory(GetParam().make(), "broken.dat");
  EXPECT_EQ(archive.EntryCount(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("broken.dat"), std::string::npos) << messages[0];
  EXPECT_EQ(archive.ExtractEntryToMemory("one.txt"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedDirectoryTest,
    ::testing::Values(DirectoryCase{"Empty", [] { return std::vector<uint8_t>(); }},
                      DirectoryCase{"NoEndRecord", [] { return TextBytes(70000, 5); }},
                      DirectoryCase{"WrongCentralSignature",
                                    [] {
                                      RawZipBuilder b = TwoEntries();
                                      b.entries[1].central_signature =
                                          0x02014b51;  // no partial list either
                                      return b.Build().bytes;
                                    }},
                      DirectoryCase{"NameOf300Bytes",
                                    [] {
                                      RawZipBuilder b;
                                      b.entries = {MakeRawEntry(std::string(300, 'n'), Bytes("x"))};
                                      return b.Build().bytes;
                                    }},
                      DirectoryCase{"DirectoryBeyondEndOfFile",
                                    [] {
                                      RawZipBuilder b = TwoEntries();
                                      b.dir_offset = 1000000;
                                      return b.Build().bytes;
                                    }},
                      DirectoryCase{"MoreRecordsAnnouncedThanPresent",
                                    [] {
                                      RawZipBuilder b = TwoEntries();
                                      b.entry_count = 3;
                                      return b.Build().bytes;
                                    }},
                      DirectoryCase{"CountTheFileCannotHold",
                                    [] {
                                      RawZipBuilder b = TwoEntries();
                                      b.entry_count = 65535;
                                      return b.Build().bytes;
                                    }}),
    [](const auto& info) { return info.param.name; });

// The records are read by the count the end record announces: a directory size that says less
// or more than they take changes nothing.
TEST(ZipDirectoryTest, ReadsTheAnnouncedRecordsWhateverTheDirectorySizeSays) {
  for (const int64_t error : {-3, -200, +1, +1000000}) {
    RawZipBuilder b = TwoEntries();
    const RawZip built = b.Build();
    b.dir_size = static_cast<uint32_t>(
        std::max<int64_t>(0, static_cast<int64_t>(built.end_offset - built.dir_offset) + error));
    ZipArchive archive;
    std::vector<std::string> messages;
    archive.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    archive.OpenMemory(b.Build().bytes, "sized.dat");
    EXPECT_TRUE(messages.empty()) << error << ": " << messages.front();
    ASSERT_EQ(archive.EntryCount(), 2) << error;
    const EntryBuffer* data = archive.ExtractEntryToMemory("two.txt");
    ASSERT_NE(data, nullptr) << error;
    EXPECT_EQ(std::string(data->begin(), data->end()), "second");
  }
}

TEST(ZipDirectoryTest, EveryTruncationFailsCleanly) {
  const std::vector<uint8_t> full = MakeEncryptedZip(
      {{"a/one.txt", TextBytes(300, 1), 0}, {"two.bin", RandomBytes(50, 2), 0}}, "pw");
  for (size_t n = 0; n < full.size(); ++n) {
    ZipArchive archive;
    int messages = 0;
    archive.OnMessage = [&](const std::string&) { ++messages; };
    archive.OpenMemory(std::vector<uint8_t>(full.begin(), full.begin() + n), "cut.zip");
    EXPECT_EQ(archive.EntryCount(), 0) << n;
    EXPECT_EQ(messages, 1) << n;
  }
}

TEST(ZipDirectoryTest, AcceptsLongestCommentLongestNameAndDropsFolders) {
  RawZipBuilder b;
  b.entries = {MakeRawEntry("Folder/", {}), MakeRawEntry("Folder/Sub/", {}),
               MakeRawEntry("Folder/" + std::string(252, 'n'), Bytes("long")),
               MakeRawEntry("Folder/Sub/file.txt", Bytes("x"))};
  b.comment = std::string(0xFFFF, 'c');
  b.comment.replace(100, 4, "PK\x05\x06");  // an end-record signature inside the comment
  ZipArchive archive;
  archive.OnMessage = [](const std::string& m) { ADD_FAILURE() << m; };
  archive.OpenMemory(b.Build().bytes, "ok.zip");
  ASSERT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.EntryAt(0).FileName, "Folder\\" + std::string(252, 'n'));
  EXPECT_EQ(archive.EntryAt(1).FileName, "Folder\\Sub\\file.txt");
  ASSERT_NE(archive.ExtractEntryToMemory("folder\\sub\\FILE.TXT"), nullptr);
}

TEST(ZipDirectoryTest, MissingFileIsQuietAndReadAgainOnceItExists) {
  testutil::TempDir dir;
  ZipArchive archive;
  archive.OnMessage = [](const std::string& m) { ADD_FAILURE() << m; };
  EXPECT_EQ(archive.ExtractEntryToMemory("a.txt"), nullptr);
  EXPECT_EQ(archive.LastStatus(), ExtractStatus::kNoArchive);

  archive.SetZipFileName(dir.File("later.zip"));
  EXPECT_EQ(archive.EntryCount(), 0);
  testutil::WriteFileBytes(dir.File("later.zip"),
                           MakeEncryptedZip({{"a.txt", Bytes("hi"), 0}}, ""));
  const EntryBuffer* data = archive.ExtractEntryToMemory("A.TXT");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(*data, Bytes("hi"));
}

// ---- Extracting hand-made entries ----

using testutil::RawZipEntry;

struct ExtractCase {
  const char* name;
  bool deflate;
  const char* password;
  std::function<void(RawZipEntry&)> tweak;
  ExtractStatus expected;
  std::function<void(RawZip&)> damage = nullptr;
};

void PrintTo(const ExtractCase& c, std::ostream* os) { *os << c.name; }

const std::vector<uint8_t>& Content() {
  static const std::vector<uint8_t> content = TextBytes(20000, 9);
  return content;
}

RawEntryOptions Options(bool deflate, const char* password, bool data_descriptor = false) {
  RawEntryOptions options;
  options.deflate = deflate;
  if (password != nullptr) options.password = password;
  options.data_descriptor = data_descriptor;
  return options;
}

class ExtractEntryTest : public ::testing::TestWithParam<ExtractCase> {};

// A good entry is extracted first, so a failure must also leave nothing of it behind.
TEST_P(ExtractEntryTest, ExtractsOrFailsWithTheRightStatus) {
  const ExtractCase& c = GetParam();
  RawZipEntry entry = MakeRawEntry("entry.bin", Content(), Options(c.deflate, c.password));
  c.tweak(entry);
  RawZipBuilder b;
  b.entries = {MakeRawEntry("good.txt", Bytes("good"), Options(true, "pw")), entry};
  RawZip zip = b.Build();
  if (c.damage) c.damage(zip);
  ZipArchive archive;
  archive.OpenMemory(zip.bytes, "case.zip");
  archive.SetPassword("pw");
  ASSERT_EQ(archive.EntryCount(), 2);
  const EntryBuffer* stream = archive.ExtractEntryToMemory("good.txt");
  ASSERT_NE(stream, nullptr);

  const EntryBuffer* data = archive.ExtractEntryToMemory("ENTRY.BIN");
  EXPECT_EQ(archive.LastStatus(), c.expected) << archive.LastProblem();
  if (c.expected == ExtractStatus::kOk) {
    ASSERT_EQ(data, stream);
    EXPECT_EQ(*data, Content());
  } else {
    EXPECT_EQ(data, nullptr);
    EXPECT_TRUE(stream->empty());
  }
}

void Keep(RawZipEntry&) {}

// With a data descriptor the header's last byte is the high byte of the time.
void TimeCheckByte(RawZipEntry& e) {
  e = MakeRawEntry("entry.bin", Content(), Options(true, "pw", true));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractEntryTest,
    ::testing::Values(
        ExtractCase{"Stored", false, nullptr, Keep, ExtractStatus::kOk},
        ExtractCase{"Deflated", true, nullptr, Keep, ExtractStatus::kOk},
        ExtractCase{"StoredEncrypted", false, "pw", Keep, ExtractStatus::kOk},
        ExtractCase{"DeflatedEncrypted", true, "pw", Keep, ExtractStatus::kOk},
        ExtractCase{"DataDescriptorChecksTime", true, "pw", TimeCheckByte, ExtractStatus::kOk},
        ExtractCase{"DataDescriptorIgnoresCrcByte", true, "pw",
                    [](RawZipEntry& e) { e.flag |= 0x0008; }, ExtractStatus::kWrongPassword},
        ExtractCase{"CrcMismatch", false, "pw", Keep, ExtractStatus::kCrcMismatch,
                    [](RawZip& z) { z.bytes[z.payload_offsets[1] + 500] ^= 0x01; }},
        ExtractCase{"ClaimsFourGiB", true, "pw",
                    [](RawZipEntry& e) { e.uncompressed_size = 0xFFFFFFFEu; },
                    ExtractStatus::kTooLarge},
        ExtractCase{"DeflateBomb", true, "pw", [](RawZipEntry& e) { e.uncompressed_size = 1000; },
                    ExtractStatus::kDamaged},
        ExtractCase{"InflatesShortOfDeclaredSize", true, "pw",
                    [](RawZipEntry& e) { e.uncompressed_size += 1; }, ExtractStatus::kDamaged},
        ExtractCase{"ImpossibleDeflateRatio", true, nullptr,
                    [](RawZipEntry& e) { e.uncompressed_size = ZipArchive::kMaxEntrySize; },
                    ExtractStatus::kDamaged},
        ExtractCase{"StoredSizeMismatch", false, "pw",
                    [](RawZipEntry& e) { e.uncompressed_size -= 1; }, ExtractStatus::kDamaged},
        ExtractCase{"TruncatedDeflateStream", true, nullptr,
                    [](RawZipEntry& e) { e.payload.resize(e.payload.size() / 2); },
                    ExtractStatus::kDamaged},
        ExtractCase{"CorruptDeflateStream", true, nullptr,
                    [](RawZipEntry& e) { std::fill_n(e.payload.begin(), 8, 0xFF); },
                    ExtractStatus::kDamaged},
        ExtractCase{"EncryptionHeaderCut", false, "pw", [](RawZipEntry& e) { e.payload.resize(5); },
                    ExtractStatus::kDamaged},
        ExtractCase{"DataBeyondEndOfFile", true, "pw",
                    [](RawZipEntry& e) { e.compressed_size = 0x7FFFFFFF; },
                    ExtractStatus::kDamaged},
        ExtractCase{"LocalHeaderOutsideFile", true, "pw",
                    [](RawZipEntry& e) { e.local_header_offset = 0x7FFFFFF0; },
                    ExtractStatus::kDamaged},
        ExtractCase{"WrongLocalSignature", true, "pw",
                    [](RawZipEntry& e) { e.local_signature = 0x04034b51; },
                    ExtractStatus::kDamaged},
        ExtractCase{"UnknownMethod", false, nullptr, [](RawZipEntry& e) { e.method = 12; },
                    ExtractStatus::kUnsupported},
        ExtractCase{"StrongEncryption", false, "pw", [](RawZipEntry& e) { e.flag |= 0x0040; },
                    ExtractStatus::kUnsupported}),
    [](const auto& info) { return info.param.name; });

// Names as an NTFS maker stores them: in the ANSI code page, converted from nothing.
RawZipEntry AnsiEntry(const std::string& name, const std::string& content) {
  RawZipEntry e = MakeRawEntry(name, Bytes(content));
  e.version_made_by = 11 << 8 | 20;
  return e;
}

TEST(ZipExtractTest, LookupFoldsTheCaseOfAnsiLettersAndTakesTheFirstMatch) {
  RawZipBuilder b;
  b.entries = {AnsiEntry("Case.txt", "first"), AnsiEntry("CASE.TXT", "second"),
               AnsiEntry("\xC4pfel \x8A\x8C\x8E\x9F.txt", "apple"), AnsiEntry("\xD7.txt", "times")};
  ZipArchive archive;
  archive.OpenMemory(b.Build().bytes, "case.zip");
  const EntryBuffer* data = archive.ExtractEntryToMemory("case.TXT");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(*data, Bytes("first"));
  // Ä, Š, Œ, Ž and Ÿ have small letters; × and ÷ are no letters, only neighbours in the table.
  EXPECT_NE(archive.ExtractEntryToMemory("\xE4PFEL \x9A\x9C\x9E\xFF.TXT"), nullptr);
  EXPECT_NE(archive.ExtractEntryToMemory("\xD7.TXT"), nullptr);
  EXPECT_EQ(archive.ExtractEntryToMemory("\xF7.txt"), nullptr);
  EXPECT_EQ(archive.LastStatus(), ExtractStatus::kNotFound);
}

// What each maker stores for the same names, and the name the directory holds for it.
struct NameCase {
  const char* label;
  uint16_t version_made_by;  // host system << 8 | version
  uint16_t flag;
  std::string stored;
  std::string extra;
  std::string listed;
};

std::string UnicodePathField(const std::string& stored, const std::string& utf8,
                             uint32_t crc_change = 0) {
  const std::vector<uint8_t> bytes = Bytes(stored);
  const uint32_t crc = Crc32(bytes.data(), bytes.size()) ^ crc_change;
  std::string field = {'\x75', '\x70', static_cast<char>(5 + utf8.size()), '\0', '\x01'};
  for (int shift = 0; shift < 32; shift += 8) field += static_cast<char>(crc >> shift);
  return field + utf8;
}

class NameConversionTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameConversionTest, ListsTheNameInTheAnsiCodePage) {
  const NameCase& c = GetParam();
  RawZipBuilder b;
  b.entries = {MakeRawEntry(c.stored, Bytes("x"))};
  b.entries[0].version_made_by = c.version_made_by;
  b.entries[0].flag = c.flag;
  b.entries[0].extra = c.extra;
  ZipArchive archive;
  archive.OpenMemory(b.Build().bytes, "names.zip");
  ASSERT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(archive.EntryAt(0).FileName, c.listed);
  EXPECT_NE(archive.ExtractEntryToMemory(c.listed), nullptr);
}

// "Café Crème/Ölbild naïve.png" in UTF-8, in the OEM code pages 437 and 850 (which agree on
// these letters) and in Windows-1252.
const std::string kUtf8 = "Caf\xC3\xA9 Cr\xC3\xA8me/\xC3\x96lbild na\xC3\xAFve.png";
const std::string kOem = "Caf\x82 Cr\x8Ame/\x99lbild na\x8Bve.png";
const std::string kAnsi = "Caf\xE9 Cr\xE8me/\xD6lbild na\xEFve.png";
const std::string kListed = "Caf\xE9 Cr\xE8me\\\xD6lbild na\xEFve.png";

INSTANTIATE_TEST_SUITE_P(
    Makers, NameConversionTest,
    ::testing::Values(NameCase{"Utf8Flag", 20, 0x0800, kUtf8, "", kListed},
                      NameCase{"Utf8FlagOutsideTheCodePage", 3 << 8 | 30, 0x0800,
                               "\xE6\x97\xA5.png", "", "?.png"},
                      NameCase{"MsDosOem", 20, 0, kOem, "", kListed},
                      NameCase{"HpfsOem", 6 << 8 | 20, 0, kOem, "", kListed},
                      NameCase{"NtfsVersion50Oem", 11 << 8 | 50, 0, kOem, "", kListed},
                      NameCase{"NtfsAnsi", 11 << 8 | 20, 0, kAnsi, "", kListed},
                      NameCase{"UnixUtf8", 3 << 8 | 30, 0, kUtf8, "", kListed},
                      NameCase{"MacUtf8", 19 << 8 | 30, 0, kUtf8, "", kListed},
                      NameCase{"UnixOtherText", 3 << 8 | 30, 0, kAnsi, "", kListed},
                      // The UTF-8 name beside a lossy one, unless it was made for another name.
                      NameCase{"UnicodePathField", 20, 0, "Caf_.png",
                               UnicodePathField("Caf_.png", "Caf\xC3\xA9.png"), "Caf\xE9.png"},
                      NameCase{"StaleUnicodePathField", 20, 0, "Caf_.png",
                               UnicodePathField("Caf_.png", "Caf\xC3\xA9.png", 1), "Caf_.png"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ZipExtractTest, NextExtractionReplacesTheStream) {
  ZipArchive archive;
  archive.OpenMemory(
      MakeEncryptedZip({{"big.txt", TextBytes(100000, 1), 0}, {"small.txt", Bytes("small"), 0}},
                       "pw"),
      "two.zip");
  archive.SetPassword("pw");
  const EntryBuffer* first = archive.ExtractEntryToMemory("big.txt");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(*first, TextBytes(100000, 1));
  const EntryBuffer* second = archive.ExtractEntryToMemory("small.txt");
  EXPECT_EQ(second, first);
  EXPECT_EQ(*second, Bytes("small"));
}

}  // namespace
}  // namespace quenvale
