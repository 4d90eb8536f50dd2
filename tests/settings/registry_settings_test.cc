#include "settings/registry_settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "settings/memory_value_store.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

constexpr char kKey[] = "Software\\Demo Saver\\";

RegistryData StringData(const std::string& bytes, uint32_t type = kRegSz) {
  RegistryData data;
  data.type = type;
  data.bytes = bytes;
  return data;
}

uint32_t StoredDword(const MemoryValueStore& store, const std::string& key, const std::string& name) {
  RegistryData data;
  EXPECT_TRUE(store.Get(key, name, &data)) << name;
  EXPECT_EQ(data.type, kRegDword) << name;
  EXPECT_EQ(data.bytes.size(), 4u) << name;
  uint32_t value = 0;
  std::memcpy(&value, data.bytes.data(), std::min<size_t>(4, data.bytes.size()));
  return value;
}

struct NormalizeCase {
  const char* path;
  const char* normalized;
};

class NormalizeKeyPathTest : public TestWithParam<NormalizeCase> {};

TEST_P(NormalizeKeyPathTest, AddsTrailingAndDropsOneLeadingBackslash) {
  EXPECT_EQ(NormalizeKeyPath(GetParam().path), GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(Paths, NormalizeKeyPathTest,
                         Values(NormalizeCase{"", ""}, NormalizeCase{"Demo", "Demo\\"},
                                NormalizeCase{"Demo\\", "Demo\\"}, NormalizeCase{"\\Demo", "Demo\\"},
                                NormalizeCase{"\\Demo\\", "Demo\\"}, NormalizeCase{"\\", ""},
                                NormalizeCase{"\\\\Demo", "\\Demo\\"},
                                NormalizeCase{"A\\B", "A\\B\\"}));

class KeyNameTest : public TestWithParam<const char*> {};

TEST_P(KeyNameTest, BackslashesAroundTheNameGiveTheSameKey) {
  MemoryValueStore store;
  int32_t value = 7;
  {
    RegistrySettings settings(store, GetParam());
    settings.AddInteger(value, "bounce nrImages", 7);
  }
  EXPECT_EQ(StoredDword(store, kKey, "bounce nrImages"), 7u);
}

INSTANTIATE_TEST_SUITE_P(Names, KeyNameTest,
                         Values("Demo Saver", "Demo Saver\\", "\\Demo Saver", "\\Demo Saver\\"));

TEST(RegistrySettingsTest, EmptyNameStoresDirectlyUnderSoftware) {
  MemoryValueStore store;
  int32_t value = 0;
  {
    RegistrySettings settings(store, "");
    EXPECT_EQ(settings.RootPath(), "Software\\");
    EXPECT_EQ(settings.KeyName(), "");
    settings.AddInteger(value, "x", 3);
  }
  EXPECT_EQ(StoredDword(store, "Software", "x"), 3u);
}

TEST(RegistrySettingsTest, NoKeyRefusesBindingAndAddsNothing) {
  MemoryValueStore store;
  RegistrySettings settings(store);
  int32_t value = 0;
  try {
    settings.AddInteger(value, "x", 1);
    FAIL() << "bound without a key";
  } catch (const NoRegisterKey& e) {
    EXPECT_STREQ(e.what(), "No registry key entered");
  }
  EXPECT_TRUE(settings.Variables().empty());
  settings.SetKeyName("\\Later");
  EXPECT_EQ(settings.KeyName(), "Later\\");
  settings.AddInteger(value, "x", 1);
  EXPECT_EQ(settings.Variables().size(), 1u);
}

TEST(RegistrySettingsTest, MissingValuesTakeDefaultsAndAllAreWrittenOnClose) {
  MemoryValueStore store;
  int32_t number = 0;
  bool flag = false;
  std::string text;
  double real = 0;
  {
    RegistrySettings settings(store, "Demo Saver");
    settings.AddInteger(number, "n", -5);
    settings.AddBoolean(flag, "b", true);
    settings.AddString(text, "s", "a;b");
    settings.AddVariable(&real, varDouble, 2.75, "d");
    EXPECT_EQ(number, -5);
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, "a;b");
    EXPECT_EQ(real, 2.75);
    EXPECT_FALSE(store.HasKey(kKey)) << "loading must not create the key";
  }
  EXPECT_EQ(store.ValueNames(kKey), (std::vector<std::string>{"n", "b", "s", "d"}));
  EXPECT_EQ(StoredDword(store, kKey, "n"), 0xFFFFFFFBu);
  EXPECT_EQ(StoredDword(store, kKey, "b"), 1u);
  RegistryData data;
  ASSERT_TRUE(store.Get(kKey, "s", &data));
  EXPECT_EQ(data.type, kRegSz);
  EXPECT_EQ(data.bytes, std::string("a;b\0", 4));
  ASSERT_TRUE(store.Get(kKey, "d", &data));
  EXPECT_EQ(data.type, kRegBinary);
  ASSERT_EQ(data.bytes.size(), 8u);
  double stored;
  std::memcpy(&stored, data.bytes.data(), 8);
  EXPECT_EQ(stored, 2.75);
}

TEST(RegistrySettingsTest, StoredValuesReplaceDefaultsAndChangesAreKept) {
  MemoryValueStore store;
  {
    int32_t number = 0;
    std::string text;
    RegistrySettings settings(store, "Demo Saver");
    settings.AddInteger(number, "n", 1);
    settings.AddString(text, "s", "x");
    number = 42;
    text = "line 1\r\nline 2";
  }
  int32_t number = 0;
  std::string text;
  RegistrySettings settings(store, "Demo Saver");
  settings.AddInteger(number, "n", 1);
  settings.AddString(text, "s", "x");
  EXPECT_EQ(number, 42);
  EXPECT_EQ(text, "line 1\r\nline 2");
}

TEST(RegistrySettingsTest, BooleanStoredAsTwoReadsTrueAndIsWrittenBackAsOne) {
  MemoryValueStore store;
  store.Set(kKey, "b", RegistryData::Dword(2));
  bool flag = false;
  {
    RegistrySettings settings(store, "Demo Saver");
    settings.AddBoolean(flag, "b", false);
    EXPECT_TRUE(flag);
  }
  EXPECT_EQ(StoredDword(store, kKey, "b"), 1u);
}

TEST(RegistrySettingsTest, SameNameTwiceLoadsBothAndTheLaterIsWrittenLast) {
  MemoryValueStore store;
  store.Set(kKey, "n", RegistryData::Dword(9));
  int32_t first = 0, second = 0;
  {
    RegistrySettings settings(store, "Demo Saver");
    settings.AddInteger(first, "n", 1);
    settings.AddInteger(second, "n", 2);
    EXPECT_EQ(first, 9);
    EXPECT_EQ(second, 9);
    first = 10;
    second = 20;
  }
  EXPECT_EQ(store.WriteLog(), (std::vector<std::string>{"n", "n"}));
  EXPECT_EQ(StoredDword(store, kKey, "n"), 20u);
}

TEST(RegistrySettingsTest, ValueNamesIgnoreLetterCase) {
  MemoryValueStore store;
  store.Set("software\\demo saver", "BOUNCE NRIMAGES", RegistryData::Dword(4));
  int32_t value = 0;
  RegistrySettings settings(store, "Demo Saver");
  settings.AddInteger(value, "bounce nrImages", 1);
  EXPECT_EQ(value, 4);
}

TEST(RegistrySettingsTest, StringsAreTakenAsStoredUpToTheFirstZero) {
  MemoryValueStore store;
  store.Set(kKey, "expand", StringData(std::string("%PATH%\\x\0", 10), kRegExpandSz));
  store.Set(kKey, "cut", StringData(std::string("ab\0cd\0", 6)));
  store.Set(kKey, "unterminated", StringData("abc"));
  std::string expand, cut, unterminated;
  RegistrySettings settings(store, "Demo Saver");
  settings.AddString(expand, "expand", "");
  settings.AddString(cut, "cut", "");
  settings.AddString(unterminated, "unterminated", "");
  EXPECT_EQ(expand, "%PATH%\\x");
  EXPECT_EQ(cut, "ab");
  EXPECT_EQ(unterminated, "abc");
}

struct MismatchCase {
  uint16_t var_type;
  RegistryData stored;
  const char* message;
};

class TypeMismatchTest : public TestWithParam<MismatchCase> {};

TEST_P(TypeMismatchTest, EndsTheBindingWithTheRegistryMessage) {
  MemoryValueStore store;
  store.Set(kKey, "v", GetParam().stored);
  int32_t number = 0;
  bool flag = false;
  double real = 0;
  std::string text;
  VariableAddress address;
  switch (KindOfVarType(GetParam().var_type)) {
    case VariableKind::kInteger: address = &number; break;
    case VariableKind::kBoolean: address = &flag; break;
    case VariableKind::kFloating: address = &real; break;
    case VariableKind::kString: address = &text; break;
  }
  RegistrySettings settings(store, "Demo Saver");
  try {
    settings.AddVariable(address, GetParam().var_type, Variant(), "v");
    FAIL() << "accepted data of the wrong type";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  settings.Discard();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TypeMismatchTest,
    Values(
        // Short enough to fetch into the kind's buffer, but of the wrong type.
        MismatchCase{varInteger, StringData(std::string("ab\0", 3)), "Invalid data type for 'v'"},
        MismatchCase{varBoolean, RegistryData::Binary("xy"), "Invalid data type for 'v'"},
        MismatchCase{varDouble, RegistryData::Dword(1), "Invalid data type for 'v'"},
        MismatchCase{varDouble, RegistryData::Binary("1234567"), "Invalid data type for 'v'"},
        MismatchCase{varDate, StringData(std::string("1.5\0", 4)), "Invalid data type for 'v'"},
        MismatchCase{varString, RegistryData::Dword(5), "Invalid data type for 'v'"},
        MismatchCase{varString, RegistryData::Binary("abc"), "Invalid data type for 'v'"},
        // Larger than the kind's buffer: the data cannot even be fetched.
        MismatchCase{varInteger, StringData(std::string("12345\0", 6)), "Failed to get data for 'v'"},
        MismatchCase{varByte, RegistryData::Binary("12345678"), "Failed to get data for 'v'"},
        MismatchCase{varBoolean, StringData(std::string("true\0", 5)), "Failed to get data for 'v'"},
        MismatchCase{varDouble, RegistryData::Binary("123456789"), "Failed to get data for 'v'"}));

TEST(RegistrySettingsTest, RefusedWriteStopsSavingAtThatValue) {
  MemoryValueStore store;
  store.RefuseWrites("b");
  int32_t a = 1, b = 2, c = 3;
  RegistrySettings settings(store, "Demo Saver");
  settings.AddInteger(a, "a", 1);
  settings.AddInteger(b, "b", 2);
  settings.AddInteger(c, "c", 3);
  try {
    settings.Close();
    FAIL() << "a refused write went unreported";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'b'");
  }
  EXPECT_EQ(store.ValueNames(kKey), (std::vector<std::string>{"a"}));
}

TEST(RegistrySettingsTest, KeyThatCannotBeCreatedWritesNothingQuietly) {
  MemoryValueStore store;
  store.set_creatable(false);
  int32_t a = 1;
  RegistrySettings settings(store, "Demo Saver");
  settings.AddInteger(a, "a", 1);
  EXPECT_NO_THROW(settings.Close());
  EXPECT_FALSE(store.HasKey(kKey));
}

TEST(RegistrySettingsTest, ClosingWritesOnceAndDiscardWritesNothing) {
  MemoryValueStore store;
  int32_t a = 1;
  {
    RegistrySettings settings(store, "Demo Saver");
    settings.AddInteger(a, "a", 1);
    settings.Close();
    a = 5;
    settings.Close();
  }
  EXPECT_EQ(store.WriteLog().size(), 1u);
  EXPECT_EQ(StoredDword(store, kKey, "a"), 1u);
  {
    RegistrySettings settings(store, "Demo Saver");
    settings.AddInteger(a, "a", 1);
    a = 6;
    settings.Discard();
  }
  EXPECT_EQ(StoredDword(store, kKey, "a"), 1u);
}

struct ConvertCase {
  uint16_t var_type;
  Variant value;
  Variant expected;  // or the error message as a string when `fails`
  bool fails;
};

class AssignVariantTest : public TestWithParam<ConvertCase> {};

TEST_P(AssignVariantTest, ConvertsToTheKindOfTheCode) {
  const ConvertCase& c = GetParam();
  int32_t number = 99;
  bool flag = false;
  double real = 99;
  std::string text = "old";
  VariableAddress address;
  switch (KindOfVarType(c.var_type)) {
    case VariableKind::kInteger: address = &number; break;
    case VariableKind::kBoolean: address = &flag; break;
    case VariableKind::kFloating: address = &real; break;
    case VariableKind::kString: address = &text; break;
  }
  if (c.fails) {
    try {
      RegistrySettings::AssignVariant(address, c.value, c.var_type);
      FAIL() << "converted";
    } catch (const VariantConvertError& e) {
      EXPECT_EQ(e.what(), std::get<std::string>(c.expected));
    }
    return;
  }
  RegistrySettings::AssignVariant(address, c.value, c.var_type);
  switch (KindOfVarType(c.var_type)) {
    case VariableKind::kInteger: EXPECT_EQ(number, std::get<int32_t>(c.expected)); break;
    case VariableKind::kBoolean: EXPECT_EQ(flag, std::get<bool>(c.expected)); break;
    case VariableKind::kFloating: EXPECT_EQ(real, std::get<double>(c.expected)); break;
    case VariableKind::kString: EXPECT_EQ(text, std::get<std::string>(c.expected)); break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, AssignVariantTest,
    Values(ConvertCase{varInteger, std::string(" -12"), int32_t{-12}, false},
           ConvertCase{varInteger, std::string("$FF"), int32_t{255}, false},
           ConvertCase{varWord, std::string("2.5"), int32_t{2}, false},
           ConvertCase{varInteger, 3.5, int32_t{4}, false},
           ConvertCase{varSmallint, true, int32_t{-1}, false},
           ConvertCase{varInteger, Variant(), int32_t{0}, false},
           ConvertCase{varBoolean, std::string("TRUE"), true, false},
           ConvertCase{varBoolean, std::string("0"), false, false},
           ConvertCase{varBoolean, int32_t{2}, true, false},
           ConvertCase{varDouble, std::string("1.5"), 1.5, false},
           ConvertCase{varDate, int32_t{3}, 3.0, false},
           ConvertCase{varString, int32_t{-7}, std::string("-7"), false},
           ConvertCase{varString, true, std::string("True"), false},
           ConvertCase{varString, Variant(), std::string(""), false},
           ConvertCase{varInteger, std::string("abc"),
                       std::string("Could not convert variant of type (String) into type (Integer)"),
                       true},
           ConvertCase{varByte, std::string(""),
                       std::string("Could not convert variant of type (String) into type (Byte)"),
                       true},
           ConvertCase{varBoolean, std::string("yes"),
                       std::string("Could not convert variant of type (String) into type (Boolean)"),
                       true},
           ConvertCase{varInteger, 1e12,
                       std::string("Could not convert variant of type (Double) into type (Integer)"),
                       true}));

TEST(RegistrySettingsTest, UnconvertibleDefaultFailsTheBinding) {
  MemoryValueStore store;
  int32_t number = 0;
  RegistrySettings settings(store, "Demo Saver");
  EXPECT_THROW(settings.AddVariable(&number, varInteger, std::string("ten"), "n"),
               VariantConvertError);
  // A stored value is used without touching the default.
  store.Set(kKey, "m", RegistryData::Dword(8));
  settings.AddVariable(&number, varInteger, std::string("ten"), "m");
  EXPECT_EQ(number, 8);
  settings.Discard();
}

}  // namespace
}  // namespace quenvale
