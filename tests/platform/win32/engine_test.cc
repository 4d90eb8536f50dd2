// The Windows engine's own units: the password services, the data-file host and the preview size.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/win32/data_file_host_win32.h"
#include "platform/win32/saver_password.h"
#include "platform/win32/saver_window.h"

namespace quenvale {
namespace {

struct LibraryPathCase {
  const char* dir;
  const char* expected;
};

class SystemLibraryPathTest : public ::testing::TestWithParam<LibraryPathCase> {};

TEST_P(SystemLibraryPathTest, JoinsWithOneBackslash) {
  EXPECT_EQ(SystemLibraryPath(GetParam().dir, "MPR.DLL"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SystemLibraryPathTest,
    ::testing::Values(LibraryPathCase{"C:\\Windows\\system32", "C:\\Windows\\system32\\MPR.DLL"},
                      LibraryPathCase{"C:\\", "C:\\MPR.DLL"},  // a root folder: no second one
                      LibraryPathCase{"", "MPR.DLL"},
                      LibraryPathCase{"D:/sys/", "D:/sys/\\MPR.DLL"}));

struct HandleCase {
  const char* argument;
  bool ok;
  uintptr_t handle;
  const char* error;
};

class ChangePasswordHandleTest : public ::testing::TestWithParam<HandleCase> {};

TEST_P(ChangePasswordHandleTest, ConvertsOrNamesTheError) {
  HWND handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xDEAD));
  std::string error;
  const bool ok = ChangePasswordHandle(GetParam().argument, &handle, &error);
  EXPECT_EQ(ok, GetParam().ok);
  if (GetParam().ok) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(handle), GetParam().handle);
    EXPECT_TRUE(error.empty());
  } else {
    EXPECT_EQ(error, GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ChangePasswordHandleTest,
    ::testing::Values(
        HandleCase{"1234", true, 1234, ""},
        HandleCase{"0", true, 0, ""},
        // /a:1234 leaves the second argument empty.
        HandleCase{"", false, 0, "'' is not a valid integer value"},
        HandleCase{"12ab", false, 0, "'12ab' is not a valid integer value"},
        HandleCase{"-5", false, 0, "Range check error"},
        HandleCase{"99999999999", false, 0, "'99999999999' is not a valid integer value"}));

TEST(ChangePasswordTextTest, NameTheLibraryInTheSystemFolder) {
  EXPECT_EQ(CannotLoadPasswordLibraryText("C:\\W\\"),
            "Could not load library C:\\W\\MPR.DLL -  The password cannot be changed");
  EXPECT_EQ(MissingPasswordEntryText("C:\\W\\"),
            "Libarary C:\\W\\MPR.DLL does not contain PwdChangePasswordA used to set the "
            "password!");
}

TEST(Win32DataFileHostTest, KnowsItsOwnExecutableAndDataFile) {
  Win32DataFileHost host(nullptr, true);
  const std::string path = host.ExecutablePath();
  const std::string name = "platform_win32_engine_test.exe";
  ASSERT_GT(path.size(), name.size());
  EXPECT_EQ(path.substr(path.size() - name.size()), name) << path;
  EXPECT_EQ(path.substr(path.size() - name.size() - 1, 1), "\\") << path;
  EXPECT_EQ(host.Title(), "platform_win32_engine_test");
  // No ".scr" in a test program's name: the data file path is the path itself.
  EXPECT_EQ(host.DataFilePath(), path);
  for (int range : {1, 2, 7}) {
    for (int i = 0; i < 50; ++i) {
      const int32_t value = host.Random(range);
      EXPECT_GE(value, 0);
      EXPECT_LT(value, range);
    }
  }
}

TEST(Win32DataFileHostTest, TitleGoesToTheApplicationWindow) {
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "before", WS_POPUP, 0, 0, 1, 1,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  Win32DataFileHost host(window, true);
  host.SetApplicationTitle("Quenvale Demo");
  char text[64] = {};
  GetWindowTextA(window, text, sizeof(text));
  EXPECT_STREQ(text, "Quenvale Demo");
  EXPECT_EQ(host.Title(), "Quenvale Demo");
  DestroyWindow(window);
}

struct PreviewCase {
  int32_t screen_width, screen_height, width, height;
};

class ScaledPreviewSizeTest : public ::testing::TestWithParam<PreviewCase> {};

TEST_P(ScaledPreviewSizeTest, KeepsTheScreensProportions) {
  const PreviewSize size = ScaledPreviewSize(GetParam().screen_width, GetParam().screen_height);
  EXPECT_EQ(size.width, GetParam().width);
  EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Screens, ScaledPreviewSizeTest,
                         ::testing::Values(PreviewCase{1024, 768, 152, 114},
                                           PreviewCase{1920, 1080, 152, 86},  // 85.5 rounds up
                                           PreviewCase{152, 100, 152, 100},
                                           PreviewCase{3840, 2160, 152, 86}));

// The saver password check against the registry value and a stand-in check library copied into
// the system folder (Wine's prefix), both put back afterwards.
class VerifySaverPasswordTest : public ::testing::Test {
 protected:
  static constexpr char kDesktop[] = "Control Panel\\Desktop";
  static constexpr char kValue[] = "ScreenSaveUsePassword";

  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kDesktop, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    DWORD size = sizeof(saved_);
    had_value_ = RegQueryValueExA(key_, kValue, nullptr, &saved_type_,
                                  reinterpret_cast<BYTE*>(saved_), &size) == ERROR_SUCCESS;
    saved_size_ = size;
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, MAX_PATH);
    library_ = SystemLibraryPath(dir, "password.cpl");
    had_library_ = GetFileAttributesA(library_.c_str()) != INVALID_FILE_ATTRIBUTES;
    SetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_WINDOW", nullptr);
  }
  void TearDown() override {
    if (had_value_) {
      RegSetValueExA(key_, kValue, 0, saved_type_, reinterpret_cast<BYTE*>(saved_), saved_size_);
    } else {
      RegDeleteValueA(key_, kValue);
    }
    RegCloseKey(key_);
    if (installed_) DeleteFileA(library_.c_str());
  }

  void SetUsePassword(DWORD value) {
    ASSERT_EQ(RegSetValueExA(key_, kValue, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                             sizeof(value)),
              ERROR_SUCCESS);
  }
  // Copies the stand-in into the system folder; false (with the reason) where it cannot.
  bool InstallStandIn() {
    if (had_library_) return false;  // never replace a real one
    const char* binary_dir = std::getenv("QUENVALE_BINARY_DIR");
    if (binary_dir == nullptr) return false;
    const std::string source = std::string(binary_dir) + "/bin/test_password.cpl";
    installed_ = CopyFileA(source.c_str(), library_.c_str(), FALSE) != 0;
    return installed_;
  }
  static std::string AskedWindow() {
    char text[32] = {};
    return GetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_WINDOW", text, sizeof(text)) > 0
               ? text
               : "";
  }

  HKEY key_ = nullptr;
  bool had_value_ = false;
  DWORD saved_type_ = 0;
  BYTE saved_[256] = {};
  DWORD saved_size_ = 0;
  std::string library_;
  bool had_library_ = false;
  bool installed_ = false;
};

TEST_F(VerifySaverPasswordTest, OffOrAbsentClosesWithoutAsking) {
  if (!InstallStandIn()) GTEST_SKIP() << "cannot put a stand-in at " << library_;
  SetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_ANSWER", "refuse");
  RegDeleteValueA(key_, kValue);
  EXPECT_TRUE(VerifySaverPassword(nullptr));
  SetUsePassword(0);
  EXPECT_TRUE(VerifySaverPassword(nullptr));
  EXPECT_EQ(AskedWindow(), "") << "the check library was asked although the password is off";
}

TEST_F(VerifySaverPasswordTest, OnAsksTheSystemCheckWithTheWindow) {
  if (!InstallStandIn()) GTEST_SKIP() << "cannot put a stand-in at " << library_;
  HWND window = CreateWindowExA(0, "STATIC", "saver", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  SetUsePassword(1);
  SetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_ANSWER", "refuse");
  EXPECT_FALSE(VerifySaverPassword(window));
  EXPECT_EQ(AskedWindow(), std::to_string(reinterpret_cast<uintptr_t>(window)));
  SetEnvironmentVariableA("QUENVALE_TEST_PASSWORD_ANSWER", "accept");
  EXPECT_TRUE(VerifySaverPassword(window));
  DestroyWindow(window);
}

TEST_F(VerifySaverPasswordTest, OnWithoutTheLibraryCloses) {
  if (had_library_) GTEST_SKIP() << "this system has its own " << library_;
  SetUsePassword(1);
  EXPECT_TRUE(VerifySaverPassword(nullptr));
}

}  // namespace
}  // namespace quenvale
