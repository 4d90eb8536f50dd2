#include "datafile/zip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/code_page.h"
#include "datafile/zip_archive.h"
#include "datafile/zip_test_util.h"

namespace quenvale {
namespace {

using testutil::Bytes;
using testutil::RandomBytes;
using testutil::TextBytes;

constexpr char kPassword[] = "pass word";

class ZipWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(5);
    zip_ = WriteEncryptedZip(
        entries_, kPassword, [&rng] { return static_cast<uint8_t>(rng()); }, &stats_);
  }

  // Writes the archive to disk for a peer.
  std::string SaveZip() {
    testutil::WriteFileBytes(dir_.File("our.zip"), zip_);
    return dir_.File("our.zip");
  }

  const std::vector<ZipWriterEntry> entries_ = {
      {"Empty.txt", {}, 0x5A2B7C31},
      {"Images/Logo.bmp", RandomBytes(50000, 1), 0x58E46A5F},
      {"Text/Read Me.txt", TextBytes(80000, 2), 0x4F215C1A},
      {"Text/Sub/tiny.ini", Bytes("a=1"), 0x5A2B7C31},
      {"Text/Caf\xC3\xA9 Cr\xC3\xA8me.txt", Bytes("accents"), 0x5A2B7C31}};
  std::vector<ZipWriterStats> stats_;
  std::vector<uint8_t> zip_;
  testutil::TempDir dir_;
};

TEST_F(ZipWriterTest, RoundTripsThroughZipArchive) {
  ZipArchive archive;
  archive.OpenMemory(zip_, "our.zip");
  archive.SetPassword(kPassword);
  ASSERT_EQ(archive.EntryCount(), 5);
  ASSERT_EQ(stats_.size(), 5u);
  // Deflated only where that makes the entry smaller.
  const uint16_t methods[] = {0, 0, 8, 0, 0};
  for (int i = 0; i < 5; ++i) {
    const ZipWriterEntry& in = entries_[i];
    const ZipDirEntry& e = archive.EntryAt(i);
    // A name beyond ASCII is stored as UTF-8, flagged so, and read in the ANSI code page.
    std::string name = Cp1252FromUtf8(in.name);
    const bool ascii = name == in.name;
    std::replace(name.begin(), name.end(), '/', '\\');
    EXPECT_EQ(e.FileName, name);
    EXPECT_EQ(e.flag & 0x0800, ascii ? 0 : 0x0800) << name;
    EXPECT_EQ(e.host_system, ascii ? 0 : 10) << name;
    EXPECT_EQ(e.compression_method, methods[i]) << name;
    EXPECT_EQ(e.encrypted, 1);
    EXPECT_EQ(e.flag & 0x0008, 0);
    EXPECT_EQ(e.version_needed, 20);
    EXPECT_EQ(e.version_made_by, 20);
    EXPECT_EQ(e.external_attributes, 0x20u);
    EXPECT_EQ(e.mod_time_date, in.dos_time_date);
    EXPECT_EQ(stats_[i].name, in.name);
    EXPECT_EQ(stats_[i].method, methods[i]);
    EXPECT_EQ(stats_[i].size, in.data.size());
    EXPECT_EQ(stats_[i].compressed_size, e.compressed_size);
    const EntryBuffer* data = archive.ExtractEntryToMemory(name);
    ASSERT_NE(data, nullptr) << name << ": " << archive.LastProblem();
    EXPECT_EQ(*data, in.data);
  }
}

TEST_F(ZipWriterTest, InfoZipUnzipReadsOurArchive) {
  if (!testutil::HaveCommand("unzip")) GTEST_SKIP() << "Info-ZIP unzip is not installed";
  const std::string zip = testutil::ShellQuote(SaveZip());
  EXPECT_TRUE(testutil::RunCommand("unzip -tqq -P " + testutil::ShellQuote(kPassword) + " " + zip));
  for (const ZipWriterEntry& e : entries_) {
    std::string out;
    EXPECT_TRUE(testutil::RunCommand("unzip -p -P " + testutil::ShellQuote(kPassword) + " " + zip +
                                         " " + testutil::ShellQuote(e.name),
                                     &out));
    EXPECT_EQ(Bytes(out), e.data) << e.name;
  }
}

TEST_F(ZipWriterTest, PythonZipfileReadsOurArchive) {
  if (!testutil::HaveCommand("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i, info in enumerate(z.infolist()):\n"
      "    open(sys.argv[2] + '/' + str(i), 'wb').write(z.read(info, pwd=sys.argv[3].encode()))\n"
      "    print(info.filename, *info.date_time)\n";
  testutil::WriteFileBytes(dir_.File("read.py"), Bytes(script));
  std::string listing;
  ASSERT_TRUE(testutil::RunCommand("python3 " + testutil::ShellQuote(dir_.File("read.py")) + " " +
                                       testutil::ShellQuote(SaveZip()) + " " +
                                       testutil::ShellQuote(dir_.path()) + " " +
                                       testutil::ShellQuote(kPassword),
                                   &listing));
  std::string expected;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ZipWriterEntry& e = entries_[i];
    EXPECT_EQ(testutil::ReadFileBytes(dir_.File(std::to_string(i))), e.data) << e.name;
    const uint32_t time = e.dos_time_date & 0xFFFF, date = e.dos_time_date >> 16;
    expected += e.name + " " + std::to_string((date >> 9) + 1980) + " " +
                std::to_string((date >> 5) & 15) + " " + std::to_string(date & 31) + " " +
                std::to_string(time >> 11) + " " + std::to_string((time >> 5) & 63) + " " +
                std::to_string((time & 31) * 2) + "\n";
  }
  EXPECT_EQ(listing, expected);
}

TEST(ZipWriterLimitsTest, RefusesWhatTheFormatCannotHoldWithoutZip64) {
  const auto write = [](const std::vector<ZipWriterEntry>& entries) {
    return testutil::MakeEncryptedZip(entries, "pw");
  };
  EXPECT_NO_THROW(write({{std::string(259, 'n'), Bytes("x"), 0}}));
  EXPECT_THROW(write({{std::string(260, 'n'), Bytes("x"), 0}}), std::runtime_error);

  const std::vector<ZipWriterEntry> most(0xFFFF, {"e", {}, 0});
  ZipArchive archive;
  archive.OpenMemory(write(most), "many.zip");
  EXPECT_EQ(archive.EntryCount(), 0xFFFF);
  EXPECT_THROW(write(std::vector<ZipWriterEntry>(0x10000, {"e", {}, 0})), std::runtime_error);
}

}  // namespace
}  // namespace quenvale
