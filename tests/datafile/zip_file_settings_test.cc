#include "datafile/zip_file_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "datafile/zip_test_util.h"
#include "datafile/zip_writer.h"

namespace quenvale {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testutil::Bytes;

struct FatalCalled {
  std::string message;
  int exit_code;
};

class TestHost : public DataFileHost {
 public:
  explicit TestHost(std::string executable) : executable_(std::move(executable)) {}
  std::string ExecutablePath() const override { return executable_; }
  [[noreturn]] void Fatal(const std::string& message, int exit_code) override {
    throw FatalCalled{message, exit_code};
  }
  void ArchiveMessage(const std::string& message) override { archive_messages.push_back(message); }
  int32_t Random(int32_t range) override {
    last_range = range;
    return next_random;
  }
  void SetApplicationTitle(const std::string& title) override { this->title = title; }
  void OpenArchive(ZipArchive& zip, const std::string& path) override {
    opened_path = path;
    if (memory) {
      zip.OpenMemory(*memory, path);
    } else {
      zip.SetZipFileName(path);
    }
  }

  std::string executable_;
  std::vector<std::string> archive_messages;
  std::string title = "(unset)";
  std::string opened_path;
  int32_t next_random = 0;
  int32_t last_range = 0;
  const std::vector<uint8_t>* memory = nullptr;
};

std::vector<uint8_t> Archive(const std::vector<std::pair<std::string, std::string>>& files,
                             const std::string& password) {
  std::vector<ZipWriterEntry> entries;
  for (const auto& [name, text] : files) {
    entries.push_back(ZipWriterEntry{name, std::vector<uint8_t>(text.begin(), text.end()), 0});
  }
  uint8_t counter = 0;
  return WriteEncryptedZip(entries, password, [&counter]() { return counter++; });
}

const char kExe[] = "C:\\Savers\\Quenvale Demo.scr";
const char kSettings[] = "[general]\r\ntitle=Demo Saver\r\n";

TEST(PasswordRuleTest, FixedWordAndFirstFiveCharactersUpperCased) {
  EXPECT_EQ(ArchivePasswordFor("C:\\Savers\\Quenvale Demo.scr"), "quenvalQUENV");
  EXPECT_EQ(ArchivePasswordFor("C:\\Savers\\ab.s"), "quenvalAB.S");
  EXPECT_EQ(ArchivePasswordFor("C:\\x\\a"), "quenvalA");
  EXPECT_EQ(ArchivePasswordFor("Quenvale.scr"), "quenvalQUENV");
  EXPECT_EQ(ArchivePasswordFor("/usr/lib/quenvale/demo.scr"), "quenvalDEMO.");
  EXPECT_EQ(ArchivePasswordFor("C:\\x\\\xE4" "bcde.scr"), "quenval\xE4" "BCDE");
}

TEST(DefaultApplicationTitleTest, IsTheFileNameWithoutExtension) {
  EXPECT_EQ(DefaultApplicationTitle("C:\\Savers\\Quenvale Demo.scr"), "Quenvale Demo");
  EXPECT_EQ(DefaultApplicationTitle("C:\\a.b\\name"), "name");
  EXPECT_EQ(DefaultApplicationTitle("plain.SCR"), "plain");
  EXPECT_EQ(DefaultApplicationTitle("C:\\x\\two.dots.scr"), "two.dots");
  EXPECT_EQ(DefaultApplicationTitle("/opt/Acme Logos.scr"), "Acme Logos");
  EXPECT_EQ(DefaultApplicationTitle("/opt/quenvale"), "quenvale");
  EXPECT_EQ(DefaultApplicationTitle("/opt/.scr"), ".scr");
}

TEST(DataFilePathRuleTest, FirstScrAndFirstBlankAnywhereInThePath) {
  EXPECT_EQ(DataFilePathFor("C:\\Savers\\My Cool Saver.SCR"), "C:\\Savers\\My_Cool Saver.dat");
  EXPECT_EQ(DataFilePathFor("C:\\Program Files\\Demo.scr"), "C:\\Program_Files\\Demo.dat");
  EXPECT_EQ(DataFilePathFor("C:\\a.scr\\Demo.scr"), "C:\\a.dat\\Demo.scr");
  EXPECT_EQ(DataFilePathFor("C:\\Savers\\Demo.exe"), "C:\\Savers\\Demo.exe");
  EXPECT_EQ(ExecutableNameForDataFile("out/Quenvale_Demo.dat"), "Quenvale Demo.scr");
  EXPECT_EQ(ExecutableNameForDataFile("My_Cool_Saver.DAT"), "My Cool_Saver.scr");
}

class DataFileTest : public ::testing::Test {
 protected:
  ZipFileSettings Open(const std::vector<std::pair<std::string, std::string>>& files,
                       SaverMode mode = SaverMode::smSave) {
    bytes_ = Archive(files, ArchivePasswordFor(kExe));
    host_.memory = &bytes_;
    return ZipFileSettings(host_, mode);
  }
  FatalCalled OpenExpectingFatal(const std::vector<uint8_t>& bytes) {
    bytes_ = bytes;
    host_.memory = &bytes_;
    try {
      ZipFileSettings data(host_, SaverMode::smSave);
    } catch (const FatalCalled& fatal) {
      return fatal;
    }
    ADD_FAILURE() << "the data file opened";
    return {};
  }

  TestHost host_{kExe};
  std::vector<uint8_t> bytes_;
};

TEST_F(DataFileTest, ReadsSettingsAndSetsTheTitle) {
  ZipFileSettings data = Open({{"settings.txt", kSettings}});
  EXPECT_EQ(host_.opened_path, "C:\\Savers\\Quenvale_Demo.dat");
  EXPECT_EQ(data.Settings().GetValue("title", "General"), "Demo Saver");
  EXPECT_EQ(host_.title, "Demo Saver");
  EXPECT_TRUE(data.Sets().empty());
  EXPECT_EQ(data.CurrentSet(), nullptr);
}

TEST_F(DataFileTest, MissingTitleGivesEmptyTitle) {
  Open({{"settings.txt", "[general]\r\n"}});
  EXPECT_EQ(host_.title, "");
}

TEST_F(DataFileTest, FatalMessagesAndExitCodes) {
  FatalCalled no_settings = OpenExpectingFatal(Archive({{"icons/a.png", "x"}}, ArchivePasswordFor(kExe)));
  EXPECT_EQ(no_settings.exit_code, 1);
  EXPECT_EQ(no_settings.message,
            "No data file found or missing settings in data file.\r\n\r\n"
            "Please try reinstalling the screensaver.\r\n\r\n"
            "If that fails, download the latest version from www.quenvale.org and try again.");
  EXPECT_THAT(host_.archive_messages, IsEmpty());

  FatalCalled wrong = OpenExpectingFatal(Archive({{"settings.txt", kSettings}}, "quenvalOTHER"));
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_EQ(wrong.message.substr(0, 42), "Corrupted data files detected [pwdata01]\r\n");

  FatalCalled garbage = OpenExpectingFatal(std::vector<uint8_t>(100, 'x'));
  EXPECT_EQ(garbage.exit_code, 1);
  EXPECT_EQ(host_.archive_messages.size(), 1u);  // the archive's own message came first
}

// The settings entry as saverpack packs it, for the tweaks of one fault at a time.
testutil::RawZipEntry SettingsEntry(const std::string& password = ArchivePasswordFor(kExe)) {
  testutil::RawEntryOptions options;
  options.deflate = true;
  options.password = password;
  return testutil::MakeRawEntry("settings.txt", Bytes(kSettings), options);
}

testutil::RawZipBuilder WithPicture(testutil::RawZipEntry settings) {
  testutil::RawZipBuilder b;
  testutil::RawEntryOptions options;
  options.password = ArchivePasswordFor(kExe);
  b.entries = {std::move(settings), testutil::MakeRawEntry("icons/a.png", Bytes("png"), options)};
  return b;
}

testutil::RawZipBuilder WithMethod(uint16_t method) {
  testutil::RawZipEntry e = SettingsEntry();
  e.method = method;
  return WithPicture(e);
}

struct FaultCase {
  const char* name;
  std::function<testutil::RawZipBuilder()> make;
  int exit_code;
  std::string archive_message;  // after "C:\Savers\Quenvale_Demo.dat: "; empty for none
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SettingsFaultTest : public DataFileTest, public ::testing::WithParamInterface<FaultCase> {};

// The fatal messages stay the two there are; what accompanies them says what is wrong.
TEST_P(SettingsFaultTest, ReportsTheCauseOnOneLineBeforeTheFatalMessage) {
  const FaultCase& c = GetParam();
  const FatalCalled fatal = OpenExpectingFatal(c.make().Build().bytes);
  EXPECT_EQ(fatal.exit_code, c.exit_code);
  EXPECT_EQ(fatal.message, c.exit_code == kExitWrongPassword ? CorruptedDataFileMessage()
                                                             : NoDataFileMessage());
  if (c.archive_message.empty()) {
    EXPECT_THAT(host_.archive_messages, IsEmpty());
  } else {
    EXPECT_THAT(host_.archive_messages,
                ElementsAre("C:\\Savers\\Quenvale_Demo.dat: " + c.archive_message));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFaultTest,
    ::testing::Values(
        FaultCase{"WrongPassword", [] { return WithPicture(SettingsEntry("quenvalOTHER")); }, 2,
                  ""},
        FaultCase{"NoSettingsEntry",
                  [] {
                    testutil::RawZipBuilder b = WithPicture(SettingsEntry());
                    b.entries.erase(b.entries.begin());
                    return b;
                  },
                  1, ""},
        // The check byte is the CRC's high byte, so the password still passes.
        FaultCase{"CrcMismatch",
                  [] {
                    testutil::RawZipEntry e = SettingsEntry();
                    e.crc32 ^= 1;
                    return WithPicture(e);
                  },
                  1, "CRC mismatch in settings.txt"},
        FaultCase{"Imploded", [] { return WithMethod(6); }, 1,
                  "unsupported compression method 6 in settings.txt"},
        FaultCase{"Deflate64", [] { return WithMethod(9); }, 1,
                  "unsupported compression method 9 in settings.txt"},
        FaultCase{"Bzip2", [] { return WithMethod(12); }, 1,
                  "unsupported compression method 12 in settings.txt"},
        FaultCase{"Lzma", [] { return WithMethod(14); }, 1,
                  "unsupported compression method 14 in settings.txt"},
        FaultCase{"Zstandard", [] { return WithMethod(93); }, 1,
                  "unsupported compression method 93 in settings.txt"},
        FaultCase{"Ppmd", [] { return WithMethod(98); }, 1,
                  "unsupported compression method 98 in settings.txt"},
        FaultCase{"Aes", [] { return WithMethod(99); }, 1,
                  "unsupported compression method 99 in settings.txt"},
        FaultCase{"StrongEncryption",
                  [] {
                    testutil::RawZipEntry e = SettingsEntry();
                    e.flag |= 0x0040;
                    return WithPicture(e);
                  },
                  1, "unsupported strong encryption in settings.txt"},
        FaultCase{"Zip64Sizes",
                  [] {
                    testutil::RawZipEntry e = SettingsEntry();
                    e.compressed_size = 0xFFFFFFFF;
                    e.uncompressed_size = 0xFFFFFFFF;
                    return WithPicture(e);
                  },
                  1, "unsupported ZIP64 sizes in settings.txt"},
        FaultCase{"Zip64Archive",
                  [] {
                    testutil::RawZipBuilder b = WithPicture(SettingsEntry());
                    b.zip64_end = true;
                    return b;
                  },
                  1, "ZIP64 archives are not supported"},
        // The settings record points at the picture's bytes, whose check byte is not its own:
        // the password would be blamed.
        FaultCase{"SettingsRecordOnAnotherEntry",
                  [] {
                    testutil::RawZipBuilder b = WithPicture(SettingsEntry());
                    std::swap(b.entries[0], b.entries[1]);
                    b.entries[1].local_header_offset = 0;
                    return b;
                  },
                  1, "overlapping entries settings.txt and icons\\a.png"},
        FaultCase{"AnotherRecordOnTheSettings",
                  [] {
                    testutil::RawZipBuilder b = WithPicture(SettingsEntry());
                    b.entries[1].local_header_offset = 0;
                    return b;
                  },
                  1, "overlapping entries settings.txt and icons\\a.png"}),
    [](const auto& info) { return info.param.name; });

TEST_F(DataFileTest, MissingFileEndsQuietlyWithExitCodeOne) {
  TestHost host("/nonexistent-folder/Quenvale Demo.scr");
  try {
    ZipFileSettings data(host, SaverMode::smSave);
    FAIL() << "opened a missing data file";
  } catch (const FatalCalled& fatal) {
    EXPECT_EQ(fatal.exit_code, 1);
  }
  EXPECT_THAT(host.archive_messages, IsEmpty());
}

TEST_F(DataFileTest, GetEntryTextIsByteExact) {
  const std::string text("a\r\nb\0c\xFF", 7);
  ZipFileSettings data = Open({{"settings.txt", kSettings}, {"notes/raw.bin", text}});
  std::string out;
  ASSERT_TRUE(data.GetEntryText("NOTES\\RAW.BIN", &out));
  EXPECT_EQ(out, text);
  EXPECT_FALSE(data.GetEntryText("notes\\missing.bin", &out));
  EXPECT_FALSE(data.GetEntryText("notes/raw.bin", &out));  // the engine's names use "\"
}

TEST_F(DataFileTest, LoadPictureByContentThenByExtension) {
  const std::string ppm = std::string("P6\n1 1\n255\n") + std::string("\x10\x20\x30", 3);
  ZipFileSettings data = Open({{"settings.txt", kSettings},
                               {"icons/a.png", ppm},
                               {"icons/b.dat", "not a picture at all"},
                               {"icons/c.jpg", "not a JPEG either"}});
  Picture picture;
  LoadedPictureInfo info;
  ASSERT_TRUE(data.LoadPicture(&picture, "ICONS\\A.PNG", &info));
  EXPECT_EQ(info.graphic_class, &kPpmGraphicClass);
  EXPECT_EQ(picture.pixels, std::vector<uint32_t>{0xFF102030u});
  EXPECT_FALSE(data.LoadPicture(&picture, "icons\\b.dat"));
  EXPECT_FALSE(data.LoadPicture(&picture, "icons\\missing.png"));
  EXPECT_EQ(picture.pixels, std::vector<uint32_t>{0xFF102030u});  // untouched by the failures
  // Found by its extension, then the decoder's error reaches the caller.
  EXPECT_THROW(data.LoadPicture(&picture, "icons\\c.jpg"), PictureError);
}

const std::vector<std::pair<std::string, std::string>> kLayout = {
    {"settings.txt", kSettings},
    {"Backgrounds/Reef.jpg", "b1"},
    {"icons/reef.bmp", "i1"},
    {"ICONS/Thumbs/REEF.png", "t1"},
    {"icons/reef.png", "i2"},
    {"backgrounds/old/aurora.jpg", "other kind"},
    {"readme.txt", "root file"},
    {"icons/noext", "no dot"},
    {"backgrounds/aurora.png", "b2"},
    {"icons/thumbs/aurora.png", "t2"},
};

TEST_F(DataFileTest, ListSetsInSaveMode) {
  ZipFileSettings data = Open(kLayout, SaverMode::smSave);
  data.ListSets();
  std::vector<std::string> names;
  for (const auto& set : data.Sets()) names.push_back(set.Name);
  EXPECT_THAT(names, ElementsAre("reef", "aurora", "readme", ""));
  EXPECT_THAT(data.Sets()[0].Backgrounds, ElementsAre("Backgrounds\\Reef.jpg"));
  EXPECT_THAT(data.Sets()[0].Pictures, ElementsAre("icons\\reef.bmp", "icons\\reef.png"));
  EXPECT_THAT(data.Sets()[1].Backgrounds, ElementsAre("backgrounds\\aurora.png"));
  EXPECT_THAT(data.Sets()[1].Pictures, IsEmpty());
  EXPECT_THAT(data.Sets()[2].Pictures, IsEmpty());
  EXPECT_THAT(data.Sets()[3].Pictures, ElementsAre("icons\\noext"));
  EXPECT_EQ(data.IndexOfSet("aurora"), 1);
  EXPECT_EQ(data.IndexOfSet("Aurora"), -1);
}

TEST_F(DataFileTest, ListSetsInPreviewModeUsesThumbs) {
  ZipFileSettings data = Open(kLayout, SaverMode::smPreview);
  data.ListSets();
  ASSERT_EQ(data.Sets().size(), 2u);
  EXPECT_EQ(data.Sets()[0].Name, "reef");
  EXPECT_THAT(data.Sets()[0].Backgrounds, ElementsAre("Backgrounds\\Reef.jpg"));
  EXPECT_THAT(data.Sets()[0].Pictures, ElementsAre("ICONS\\Thumbs\\REEF.png"));
  EXPECT_EQ(data.Sets()[1].Name, "aurora");
  EXPECT_THAT(data.Sets()[1].Pictures, ElementsAre("icons\\thumbs\\aurora.png"));
}

TEST_F(DataFileTest, ListSetsInChangePasswordModeUsesNothing) {
  ZipFileSettings data = Open(kLayout, SaverMode::smChangePassword);
  data.ListSets();
  EXPECT_TRUE(data.Sets().empty());
}

TEST_F(DataFileTest, SettingsEntryInOtherCaseIsReadAndBecomesASet) {
  ZipFileSettings data = Open({{"Settings.TXT", kSettings}});
  EXPECT_EQ(host_.title, "Demo Saver");
  data.ListSets();
  ASSERT_EQ(data.Sets().size(), 1u);
  EXPECT_EQ(data.Sets()[0].Name, "settings");
}

TEST_F(DataFileTest, SelectSetWrapsAtBothEnds) {
  ZipFileSettings data = Open({{"settings.txt", kSettings},
                               {"icons/a.png", ""},
                               {"icons/b.png", ""},
                               {"icons/c.png", ""}});
  data.ListSets();
  data.SelectSet(1);
  EXPECT_EQ(data.CurrentSet()->Name, "b");
  data.SelectSet(3);
  EXPECT_EQ(data.CurrentSetIndex(), 0);
  data.SelectSet(-1);
  EXPECT_EQ(data.CurrentSetIndex(), 2);
  EXPECT_EQ(data.CurrentSet()->Name, "c");
  data.SelectSet(17);
  EXPECT_EQ(data.CurrentSetIndex(), 0);
  host_.next_random = 2;
  data.SelectRandomSet();
  EXPECT_EQ(host_.last_range, 3);
  EXPECT_EQ(data.CurrentSet()->Name, "c");
}

TEST_F(DataFileTest, SelectingWithoutSetsLeavesNoCurrentSet) {
  ZipFileSettings data = Open({{"settings.txt", kSettings}});
  data.ListSets();
  data.SelectSet(0);
  EXPECT_EQ(data.CurrentSet(), nullptr);
  data.SelectRandomSet();
  EXPECT_EQ(data.CurrentSet(), nullptr);
}

TEST(DataFileOnDiskTest, FoundBesideTheExecutableByThePathRule) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("quenvale-zfs-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string exe = (dir / "Disk Saver.SCR").string();
  std::vector<uint8_t> bytes = Archive({{"settings.txt", kSettings}}, ArchivePasswordFor(exe));
  {
    std::ofstream out(dir / "Disk_Saver.dat", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  {
    // Closed before the folder goes: Windows removes no file that is still open.
    TestHost host(exe);
    ZipFileSettings data(host, SaverMode::smConfigure);
    EXPECT_EQ(data.DataFilePath(), (dir / "Disk_Saver.dat").string());
    EXPECT_EQ(host.title, "Demo Saver");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quenvale
