#include "platform/win32/registry_value_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>

namespace quenvale {
namespace {

// Every run works below a key of its own, removed with everything under it at the end. The
// checks read and write the registry directly too, so that the store is never its own witness.
class RegistryValueStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = "Software\\Quenvale Tests\\" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(std::random_device{}());
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quenvale Tests");  // only while it is empty
  }

  std::string Path(const std::string& relative) const { return base_ + "\\" + relative; }

  static bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  // The value as the registry's own function returns it, or type kRegNone and "<missing>".
  static RegistryData RawRead(const std::string& path, const std::string& name) {
    RegistryData data;
    data.bytes = "<missing>";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return data;
    }
    char buffer[4096];
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) == ERROR_SUCCESS) {
      data.type = type;
      data.bytes.assign(buffer, size);
    }
    RegCloseKey(key);
    return data;
  }

  static void RawWrite(const std::string& path, const std::string& name, DWORD type,
                       const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  RegistryValueStore store_;
  std::string base_;
};

TEST_F(RegistryValueStoreTest, MissingKeyIsNullUnlessCreatedWithItsParents) {
  const std::string path = Path("Outer\\Middle\\Inner");
  EXPECT_EQ(store_.OpenKey(path, false), nullptr);
  EXPECT_FALSE(KeyExists(Path("Outer")));  // opening alone creates nothing

  std::unique_ptr<ValueKey> created = store_.OpenKey(path, true);
  ASSERT_NE(created, nullptr);
  created->Close();
  EXPECT_TRUE(KeyExists(path));

  // Now there, with or without the trailing backslash, and in another letter case.
  EXPECT_NE(store_.OpenKey(path, false), nullptr);
  EXPECT_NE(store_.OpenKey(path + "\\", false), nullptr);
  EXPECT_NE(store_.OpenKey(path + "\\", true), nullptr);
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_NE(store_.OpenKey(upper, false), nullptr);
  EXPECT_EQ(store_.OpenKey("", false), nullptr);
}

struct RoundTripCase {
  const char* label;
  uint32_t type;
  std::string bytes;
};

class RegistryRoundTripTest : public RegistryValueStoreTest,
                              public ::testing::WithParamInterface<RoundTripCase> {};

// Written through the store, the registry holds exactly these bytes; written directly, the store
// reads them back exactly; and a value written and read by the store survives reopening the key.
TEST_P(RegistryRoundTripTest, BytesAndTypeSurviveBothWays) {
  const RoundTripCase& c = GetParam();
  RegistryData data;
  data.type = c.type;
  data.bytes = c.bytes;
  {
    std::unique_ptr<ValueKey> key = store_.OpenKey(Path("Trip"), true);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->WriteValue("Value", data));
    key->Close();
  }
  const RegistryData raw = RawRead(Path("Trip"), "Value");
  EXPECT_EQ(raw.type, c.type);
  EXPECT_EQ(raw.bytes, c.bytes);

  RawWrite(Path("Trip"), "Direct", c.type, c.bytes);
  std::unique_ptr<ValueKey> key = store_.OpenKey(Path("Trip"), false);
  ASSERT_NE(key, nullptr);
  for (const char* name : {"Value", "Direct"}) {
    RegistryData back;
    ASSERT_TRUE(key->ReadValue(name, &back)) << name;
    EXPECT_EQ(back.type, c.type) << name;
    EXPECT_EQ(back.bytes, c.bytes) << name;
  }
}

std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 37 + 11) & 0xFF);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegistryRoundTripTest,
    ::testing::Values(
        RoundTripCase{"Dword", kRegDword, RegistryData::Dword(0x89ABCDEFu).bytes},
        RoundTripCase{"DwordZero", kRegDword, RegistryData::Dword(0).bytes},
        RoundTripCase{"Binary", kRegBinary, std::string("\x00\xFF\x01\r\n\x7F\x80", 7)},
        RoundTripCase{"EmptyBinary", kRegBinary, ""},
        // Longer than the fixed buffers a reader might guess at.
        RoundTripCase{"Binary300", kRegBinary, Pattern(300)},
        RoundTripCase{"Binary3000", kRegBinary, Pattern(3000)},
        RoundTripCase{"Sz", kRegSz, RegistryData::String("Quenvale Demo").bytes},
        // 8-bit text: the terminating zero and the bytes above 127 come back as they went in.
        RoundTripCase{"SzEightBit", kRegSz, RegistryData::String("Caf\xE9 \xA9 \xFC\xDF").bytes},
        RoundTripCase{"SzLineBreaks", kRegSz, RegistryData::String("one\r\ntwo\tthree").bytes},
        RoundTripCase{"SzLong", kRegSz, RegistryData::String(std::string(299, 'x')).bytes},
        RoundTripCase{"ExpandSz", kRegExpandSz, std::string("%WINDIR%\\Quenvale\0", 18)},
        RoundTripCase{"MultiSz", kRegMultiSz, std::string("one\0two\0\0", 9)}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.label; });

TEST_F(RegistryValueStoreTest, ReadingGivesTheRegistryBytesExactly) {
  // A string stored without its terminating zero comes back as the registry returns it, and a
  // zero-terminated one keeps its zero: the store adds and removes nothing.
  RawWrite(Path("Raw"), "Bare", REG_SZ, "bare");
  RawWrite(Path("Raw"), "Terminated", REG_SZ, std::string("done\0", 5));
  std::unique_ptr<ValueKey> key = store_.OpenKey(Path("Raw"), false);
  ASSERT_NE(key, nullptr);
  for (const char* name : {"Bare", "Terminated"}) {
    RegistryData data;
    ASSERT_TRUE(key->ReadValue(name, &data)) << name;
    EXPECT_EQ(data.type, kRegSz);
    EXPECT_EQ(data.bytes, RawRead(Path("Raw"), name).bytes) << name;
  }
  RegistryData terminated;
  ASSERT_TRUE(key->ReadValue("Terminated", &terminated));
  EXPECT_EQ(terminated.bytes, std::string("done\0", 5));
}

TEST_F(RegistryValueStoreTest, MissingValueIsFalseAndNamesIgnoreCase) {
  std::unique_ptr<ValueKey> key = store_.OpenKey(Path("Names"), true);
  ASSERT_NE(key, nullptr);
  RegistryData data;
  EXPECT_FALSE(key->ReadValue("Speed", &data));
  ASSERT_TRUE(key->WriteValue("Speed", RegistryData::Dword(7)));
  ASSERT_TRUE(key->ReadValue("SPEED", &data));
  EXPECT_EQ(data.bytes, RegistryData::Dword(7).bytes);
  EXPECT_FALSE(key->ReadValue("Speed2", &data));
  // A later write replaces the value, type and all.
  ASSERT_TRUE(key->WriteValue("speed", RegistryData::String("fast")));
  ASSERT_TRUE(key->ReadValue("Speed", &data));
  EXPECT_EQ(data.type, kRegSz);
  EXPECT_EQ(data.bytes, std::string("fast\0", 5));
}

TEST_F(RegistryValueStoreTest, KeyRemovedWhileOpenRefusesReadsAndWrites) {
  std::unique_ptr<ValueKey> key = store_.OpenKey(Path("Doomed"), true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteValue("Before", RegistryData::Dword(1)));
  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, Path("Doomed").c_str()), ERROR_SUCCESS);
  RegistryData data;
  EXPECT_FALSE(key->ReadValue("Before", &data));
  EXPECT_FALSE(key->WriteValue("After", RegistryData::Dword(2)));
  key->Close();
  key->Close();  // a second Close is harmless
  EXPECT_FALSE(KeyExists(Path("Doomed")));
}

}  // namespace
}  // namespace quenvale
