// The Linux engine's pure parts: its command line with xscreensaver's options, the key table's
// codes, the program's own name and the data file it leads to, the single-instance lock and the
// frame pacing arithmetic.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "datafile/zip_file_settings.h"
#include "datafile/zip_test_util.h"
#include "platform/linux/data_file_host_linux.h"
#include "platform/linux/key_map.h"
#include "platform/linux/linux_command_line.h"
#include "platform/linux/single_instance.h"
#include "saver/saver.h"

namespace quenvale {
namespace {

using testutil::TempDir;

// --- Window ids ---------------------------------------------------------------------------

struct WindowIdCase {
  const char* text;
  bool ok;
  uint32_t id;
};

void PrintTo(const WindowIdCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class WindowIdTest : public ::testing::TestWithParam<WindowIdCase> {};

TEST_P(WindowIdTest, DecimalOrHexadecimal) {
  uint32_t id = 12345;
  EXPECT_EQ(ParseWindowId(GetParam().text, &id), GetParam().ok) << GetParam().text;
  EXPECT_EQ(id, GetParam().ok ? GetParam().id : 12345u) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WindowIdTest,
    ::testing::Values(
        WindowIdCase{"4194311", true, 4194311}, WindowIdCase{"0x400007", true, 0x400007},
        WindowIdCase{"0X1a2B", true, 0x1A2B}, WindowIdCase{"0xFFFFFFFF", true, 0xFFFFFFFFu},
        WindowIdCase{"4294967295", true, 4294967295u}, WindowIdCase{"4294967296", false, 0},
        WindowIdCase{"0x100000000", false, 0}, WindowIdCase{"0", false, 0},
        WindowIdCase{"0x0", false, 0}, WindowIdCase{"", false, 0}, WindowIdCase{"0x", false, 0},
        WindowIdCase{"12ab", false, 0}, WindowIdCase{"-5", false, 0}, WindowIdCase{" 5", false, 0},
        WindowIdCase{"0x12g", false, 0}));

// --- The command line ---------------------------------------------------------------------

struct ArgsCase {
  std::vector<std::string> args;
  const char* xscreensaver_window;  // null: the variable is not set
  SaverMode mode;
  SaverTarget target;
  uint32_t window_id;
  bool root;
  bool ends_on_input;
  bool bad_window_id;
};

std::string Describe(const ArgsCase& c) {
  std::string text;
  for (const std::string& arg : c.args) text += "[" + arg + "]";
  if (c.xscreensaver_window != nullptr) {
    text += " XSCREENSAVER_WINDOW=" + std::string(c.xscreensaver_window);
  }
  return text;
}

void PrintTo(const ArgsCase& c, std::ostream* os) { *os << Describe(c); }

class LinuxCommandLineTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(LinuxCommandLineTest, ModeTargetAndWindow) {
  const ArgsCase& c = GetParam();
  const LinuxCommandLine parsed = ParseLinuxCommandLine(c.args, c.xscreensaver_window);
  EXPECT_EQ(parsed.command.mode, c.mode) << Describe(c);
  EXPECT_EQ(parsed.target, c.target) << Describe(c);
  EXPECT_EQ(parsed.window_id, c.window_id) << Describe(c);
  EXPECT_EQ(parsed.root, c.root) << Describe(c);
  EXPECT_EQ(parsed.ends_on_input, c.ends_on_input) << Describe(c);
  EXPECT_EQ(parsed.bad_window_id, c.bad_window_id) << Describe(c);
}

constexpr SaverMode kSave = SaverMode::smSave;
constexpr SaverMode kPreview = SaverMode::smPreview;
constexpr SaverMode kConfigure = SaverMode::smConfigure;
constexpr SaverTarget kFull = SaverTarget::kFullScreen;
constexpr SaverTarget kWin = SaverTarget::kWindow;
constexpr SaverTarget kForeign = SaverTarget::kForeign;

INSTANTIATE_TEST_SUITE_P(
    Windows, LinuxCommandLineTest,
    ::testing::Values(
        // The Windows switches read as on Windows.
        ArgsCase{{}, nullptr, kConfigure, kFull, 0, false, true, false},
        ArgsCase{{"/s"}, nullptr, kSave, kFull, 0, false, true, false},
        ArgsCase{{"-S"}, nullptr, kSave, kFull, 0, false, true, false},
        ArgsCase{{"/c"}, nullptr, kConfigure, kFull, 0, false, true, false},
        ArgsCase{{"/a"}, nullptr, SaverMode::smChangePassword, kFull, 0, false, true, false},
        // A preview draws into the window it is given and takes no input.
        ArgsCase{{"/p", "1234"}, nullptr, kPreview, kForeign, 1234, false, false, false},
        ArgsCase{{"/p:0x1A"}, nullptr, kPreview, kForeign, 26, false, false, false},
        ArgsCase{{"/p"}, nullptr, kPreview, kForeign, 0, false, false, false},
        // The preview's own window wins over xscreensaver's variable.
        ArgsCase{{"/p", "77"}, "0x500", kPreview, kForeign, 77, false, false, false}));

INSTANTIATE_TEST_SUITE_P(
    Xscreensaver, LinuxCommandLineTest,
    ::testing::Values(
        // A hack option alone means saving, into the window it names.
        ArgsCase{{"-root"}, nullptr, kSave, kForeign, 0, true, false, false},
        ArgsCase{
            {"-window-id", "0x400007"}, nullptr, kSave, kForeign, 0x400007, false, false, false},
        ArgsCase{
            {"--window-id", "4194311"}, nullptr, kSave, kForeign, 4194311, false, false, false},
        ArgsCase{{"/s", "-window-id", "99"}, nullptr, kSave, kForeign, 99, false, false, false},
        // xscreensaver's window is the one to draw into, also with -root.
        ArgsCase{{"-root"}, "0x600001", kSave, kForeign, 0x600001, true, false, false},
        ArgsCase{{}, "6291457", kSave, kForeign, 6291457, false, false, false},
        // -window-id wins over the variable.
        ArgsCase{{"-window-id", "5", "-root"}, "0x600001", kSave, kForeign, 5, true, false, false},
        // A variable that names no window is passed over.
        ArgsCase{{"-root"}, "junk", kSave, kForeign, 0, true, false, false},
        ArgsCase{{}, "", kConfigure, kFull, 0, false, true, false},
        // A -window-id without a usable id is an error, not the whole screen.
        ArgsCase{{"-window-id"}, nullptr, kSave, kForeign, 0, false, false, true},
        ArgsCase{{"-window-id", "abc"}, nullptr, kSave, kForeign, 0, false, false, true},
        // -window: a normal window, which the keys of the table drive but input does not end.
        ArgsCase{{"-window"}, nullptr, kSave, kWin, 0, false, false, false},
        ArgsCase{{"/s", "-window"}, nullptr, kSave, kWin, 0, false, false, false},
        // The options xscreensaver adds are no switches: "-fps" must not read as /f, nor
        // "-visual default" hide the /s behind it.
        ArgsCase{{"-root", "-fps"}, nullptr, kSave, kForeign, 0, true, false, false},
        ArgsCase{{"-visual", "default", "/s"}, nullptr, kSave, kFull, 0, false, true, false},
        ArgsCase{{"/s", "-install", "-no-fps"}, nullptr, kSave, kFull, 0, false, true, false},
        // The configuration dialog is not turned into a saver by the variable.
        ArgsCase{{"/c"}, "0x600001", kConfigure, kFull, 0, false, true, false}));

TEST(LinuxCommandLineFpsTest, FpsIsReportedNotTakenForASwitch) {
  EXPECT_TRUE(ParseLinuxCommandLine({"/s", "-fps"}, nullptr).report_fps);
  EXPECT_FALSE(ParseLinuxCommandLine({"/s"}, nullptr).report_fps);
  EXPECT_EQ(ParseLinuxCommandLine({"-fps"}, nullptr).command.mode, SaverMode::smSave);
}

// --- Keys -----------------------------------------------------------------------------------

struct KeyCase {
  SDL_Keycode key;
  SDL_Scancode scancode;
  uint16_t code;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << SDL_GetScancodeName(c.scancode) << " as " << SDL_GetKeyName(c.key);
}

class KeyMapTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyMapTest, WindowsVirtualKey) {
  EXPECT_EQ(VirtualKeyFor(GetParam().key, GetParam().scancode), GetParam().code)
      << SDL_GetKeyName(GetParam().key) << " / scancode " << GetParam().scancode;
}

INSTANTIATE_TEST_SUITE_P(
    Keypad, KeyMapTest,
    ::testing::Values(
        KeyCase{SDLK_KP_0, SDL_SCANCODE_KP_0, kVkNumpad0},
        KeyCase{SDLK_KP_1, SDL_SCANCODE_KP_1, kVkNumpad1},
        KeyCase{SDLK_KP_2, SDL_SCANCODE_KP_2, kVkNumpad2},
        KeyCase{SDLK_KP_3, SDL_SCANCODE_KP_3, kVkNumpad3},
        KeyCase{SDLK_KP_4, SDL_SCANCODE_KP_4, kVkNumpad4},
        KeyCase{SDLK_KP_5, SDL_SCANCODE_KP_5, kVkNumpad5},
        KeyCase{SDLK_KP_6, SDL_SCANCODE_KP_6, kVkNumpad6},
        KeyCase{SDLK_KP_7, SDL_SCANCODE_KP_7, kVkNumpad7},
        KeyCase{SDLK_KP_8, SDL_SCANCODE_KP_8, kVkNumpad8},
        KeyCase{SDLK_KP_9, SDL_SCANCODE_KP_9, kVkNumpad9},
        KeyCase{SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, kVkAdd},
        KeyCase{SDLK_KP_MINUS, SDL_SCANCODE_KP_MINUS, kVkSubtract},
        KeyCase{SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY, kVkMultiply},
        KeyCase{SDLK_KP_DIVIDE, SDL_SCANCODE_KP_DIVIDE, kVkDivide},
        KeyCase{SDLK_KP_PERIOD, SDL_SCANCODE_KP_PERIOD, kVkDecimal},
        KeyCase{SDLK_KP_COMMA, SDL_SCANCODE_KP_COMMA, kVkSeparator},
        KeyCase{SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 0x0D},
        // With Num Lock off the keypad's symbols are arrows, but the key stays a numpad key.
        KeyCase{SDLK_LEFT, SDL_SCANCODE_KP_4, kVkNumpad4},
        KeyCase{SDLK_INSERT, SDL_SCANCODE_KP_0, kVkNumpad0},
        KeyCase{SDLK_DELETE, SDL_SCANCODE_KP_PERIOD, kVkDecimal}));

INSTANTIATE_TEST_SUITE_P(
    Main, KeyMapTest,
    ::testing::Values(
        KeyCase{SDLK_LEFT, SDL_SCANCODE_LEFT, kVkLeft},
        KeyCase{SDLK_RIGHT, SDL_SCANCODE_RIGHT, kVkRight}, KeyCase{SDLK_UP, SDL_SCANCODE_UP, kVkUp},
        KeyCase{SDLK_DOWN, SDL_SCANCODE_DOWN, kVkDown},
        // Letters follow the layout: the key that types "z" on a German keyboard is Z.
        KeyCase{SDLK_a, SDL_SCANCODE_A, 'A'}, KeyCase{SDLK_z, SDL_SCANCODE_Y, 'Z'},
        KeyCase{SDLK_b, SDL_SCANCODE_B, 'B'}, KeyCase{SDLK_0, SDL_SCANCODE_0, '0'},
        KeyCase{SDLK_9, SDL_SCANCODE_9, '9'}, KeyCase{SDLK_F1, SDL_SCANCODE_F1, 0x70},
        KeyCase{SDLK_F12, SDL_SCANCODE_F12, 0x7B}, KeyCase{SDLK_F13, SDL_SCANCODE_F13, 0x7C},
        KeyCase{SDLK_F24, SDL_SCANCODE_F24, 0x87}, KeyCase{SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 0x1B},
        KeyCase{SDLK_RETURN, SDL_SCANCODE_RETURN, 0x0D},
        KeyCase{SDLK_SPACE, SDL_SCANCODE_SPACE, 0x20},
        KeyCase{SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, 0x10},
        KeyCase{SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, 0x10},
        KeyCase{SDLK_LCTRL, SDL_SCANCODE_LCTRL, 0x11}, KeyCase{SDLK_RALT, SDL_SCANCODE_RALT, 0x12},
        // The main keyboard's plus and minus are not the keypad's.
        KeyCase{SDLK_MINUS, SDL_SCANCODE_MINUS, 0xBD},
        KeyCase{SDLK_EQUALS, SDL_SCANCODE_EQUALS, 0xBB},
        KeyCase{SDLK_SLASH, SDL_SCANCODE_SLASH, 0xBF},
        // Keys Windows has no code for.
        KeyCase{SDLK_AUDIOPLAY, SDL_SCANCODE_AUDIOPLAY, 0}));

// Only the arrows and the keypad reach the rows of the key table that keep the saver running;
// every other key, whatever its symbol, ends it.
bool InKeyTable(uint16_t vk) {
  return (vk >= kVkLeft && vk <= kVkDown) || (vk >= kVkNumpad0 && vk <= kVkDivide);
}

TEST(KeyMapTableTest, OnlyArrowsAndKeypadReachTheTable) {
  int in_table = 0;
  for (int scancode = SDL_SCANCODE_A; scancode < SDL_NUM_SCANCODES; ++scancode) {
    const auto code = static_cast<SDL_Scancode>(scancode);
    const uint16_t vk = VirtualKeyFor(SDL_SCANCODE_TO_KEYCODE(code), code);
    const bool keypad =
        (scancode >= SDL_SCANCODE_KP_DIVIDE && scancode <= SDL_SCANCODE_KP_PERIOD) ||
        scancode == SDL_SCANCODE_KP_COMMA;
    const bool arrow = scancode >= SDL_SCANCODE_RIGHT && scancode <= SDL_SCANCODE_UP;
    if (InKeyTable(vk)) {
      ++in_table;
      EXPECT_TRUE(keypad || arrow) << SDL_GetScancodeName(code) << " reaches the table as " << vk;
    }
  }
  // The four arrows and the sixteen keypad keys of the table.
  EXPECT_EQ(in_table, 4 + 16);
  // Printable symbols from a key that is not on the keypad ("+" on the main keyboard, "*"
  // typed with Shift) end the saver.
  for (int ch = 32; ch < 127; ++ch) {
    EXPECT_FALSE(InKeyTable(VirtualKeyFor(static_cast<SDL_Keycode>(ch), SDL_SCANCODE_UNKNOWN)))
        << "'" << static_cast<char>(ch) << "'";
  }
}

// --- The program's name and its data file -----------------------------------------------------

struct PathCase {
  const char* argv0;
  const char* cwd;
  const char* expected;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.argv0 << " in " << c.cwd; }

class ProgramPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ProgramPathTest, MadeAbsoluteByName) {
  EXPECT_EQ(ProgramPath(GetParam().argv0, GetParam().cwd, ""), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProgramPathTest,
    ::testing::Values(PathCase{"/opt/savers/Acme Logos", "/home/u", "/opt/savers/Acme Logos"},
                      PathCase{"./Acme Logos", "/opt/savers", "/opt/savers/Acme Logos"},
                      PathCase{"savers/Acme Logos", "/opt", "/opt/savers/Acme Logos"},
                      PathCase{"../savers/./x", "/opt/bin", "/opt/savers/x"},
                      PathCase{"//opt//savers/x", "/", "/opt/savers/x"},
                      PathCase{"../../x", "/a", "/x"}, PathCase{"", "/a", ""},
                      // A bare name not found in an empty PATH.
                      PathCase{"quenvale", "/a", ""}));

// A link named after a saver stays that name: the data file beside the link is found, and with
// the password of the name the saver was packed for.
TEST(SaverPathTest, LinkFindsItsOwnDataFile) {
  TempDir dir;
  testutil::WriteFileBytes(dir.File("engine/quenvale"), testutil::Bytes("#!/bin/sh\n"));
  ASSERT_EQ(chmod(dir.File("engine/quenvale").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.File("engine/quenvale").c_str(), dir.File("Acme Logos").c_str()), 0);
  const std::vector<uint8_t> archive = testutil::MakeEncryptedZip(
      {ZipWriterEntry{"settings.txt", testutil::Bytes("[general]\r\ntitle=Acme Logos Saver\r\n"),
                      0},
       ZipWriterEntry{"icons/a.png", testutil::Bytes("x"), 0}},
      ArchivePasswordFor(dir.File("Acme Logos.scr")));
  testutil::WriteFileBytes(dir.File("Acme_Logos.dat"), archive);

  // Started by its path, and by its bare name through PATH.
  const std::string by_path = ProgramPath("./Acme Logos", dir.path(), "");
  const std::string by_name = ProgramPath("Acme Logos", "/", "/nonexistent::" + dir.path());
  EXPECT_EQ(by_path, dir.File("Acme Logos"));
  EXPECT_EQ(by_name, dir.File("Acme Logos"));

  LinuxDataFileHost host(SaverPathFor(by_path), /*silent=*/true);
  EXPECT_EQ(host.Title(), "Acme Logos");
  EXPECT_EQ(host.DataFilePath(), dir.File("Acme_Logos.dat"));
  ZipFileSettings data_file(host, SaverMode::smSave);
  EXPECT_EQ(host.Title(), "Acme Logos Saver");
  data_file.ListSets();
  ASSERT_EQ(data_file.Sets().size(), 1u);
  EXPECT_EQ(data_file.Sets()[0].Name, "a");
}

TEST(SaverPathTest, PathSearchSkipsWhatCannotRun) {
  TempDir dir;
  testutil::WriteFileBytes(dir.File("a/tool"), testutil::Bytes("data"));
  ASSERT_EQ(chmod(dir.File("a/tool").c_str(), 0644), 0);
  testutil::WriteFileBytes(dir.File("b/tool"), testutil::Bytes("#!/bin/sh\n"));
  ASSERT_EQ(chmod(dir.File("b/tool").c_str(), 0755), 0);
  EXPECT_EQ(ProgramPath("tool", "/", dir.File("a") + ":" + dir.File("b")), dir.File("b/tool"));
  // A relative PATH entry, and the empty one, are the current folder.
  EXPECT_EQ(ProgramPath("tool", dir.path(), "a:b"), dir.File("b/tool"));
  EXPECT_EQ(ProgramPath("tool", dir.File("b"), "/nonexistent:"), dir.File("b/tool"));
  EXPECT_EQ(ProgramPath("tool", "/", dir.File("a")), "");
}

TEST(SaverPathTest, ScrIsAddedOnlyWhenTheNameHasNone) {
  EXPECT_EQ(SaverPathFor("/opt/Acme Logos"), "/opt/Acme Logos.scr");
  EXPECT_EQ(SaverPathFor("/opt/Acme Logos.scr"), "/opt/Acme Logos.scr");
  EXPECT_EQ(SaverPathFor("/opt/Acme.SCR"), "/opt/Acme.SCR");
  // A folder's ".scr" is no extension of the program's.
  EXPECT_EQ(SaverPathFor("/opt/x.scr/quenvale"), "/opt/x.scr/quenvale.scr");
  EXPECT_EQ(DataFilePathFor(SaverPathFor("/opt/savers/quenvale-demo")),
            "/opt/savers/quenvale-demo.dat");
  // The password of a short name is that of the name with its ".scr", as saverpack packs it.
  EXPECT_EQ(ArchivePasswordFor(SaverPathFor("/opt/Ab")), ArchivePasswordFor("/opt/Ab.scr"));
}

// --- One instance ---------------------------------------------------------------------------

TEST(SingleInstanceTest, LockPath) {
  EXPECT_EQ(InstanceLockPath("/run/user/1000", 1000), "/run/user/1000/Quenvale");
  EXPECT_EQ(InstanceLockPath("/run/user/1000/", 1000), "/run/user/1000/Quenvale");
  EXPECT_EQ(InstanceLockPath(nullptr, 1000), "/tmp/Quenvale-1000");
  EXPECT_EQ(InstanceLockPath("", 7), "/tmp/Quenvale-7");
  EXPECT_EQ(InstanceLockPath("relative", 7), "/tmp/Quenvale-7");
}

TEST(SingleInstanceTest, XscreensaverHacksLockPerWindowEverythingElsePerUser) {
  const std::string user = "/run/user/7/Quenvale";
  const auto lock_for = [&](std::vector<std::string> args, const char* env) {
    return InstanceLockPathFor(user, ParseLinuxCommandLine(args, env));
  };
  // One hack per monitor, each in its own window, all at once.
  EXPECT_EQ(lock_for({"-window-id", "0x2a00007"}, nullptr), user + "-0x2a00007");
  EXPECT_EQ(lock_for({}, "44040199"), user + "-0x2a00007");
  EXPECT_NE(lock_for({}, "0x2a00007"), lock_for({}, "0x2c00007"));
  // The user's own runs, the preview and the root window share the one lock.
  EXPECT_EQ(lock_for({"/s"}, nullptr), user);
  EXPECT_EQ(lock_for({"-window"}, nullptr), user);
  EXPECT_EQ(lock_for({"/c"}, nullptr), user);
  EXPECT_EQ(lock_for({"/p", "1234"}, nullptr), user);
  EXPECT_EQ(lock_for({"-root"}, nullptr), user);
}

TEST(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstEnds) {
  TempDir dir;
  const std::string path = dir.File("Quenvale");
  auto first = std::make_unique<SingleInstance>(path);
  ASSERT_TRUE(first->Acquire());
  EXPECT_TRUE(first->Acquire());  // asking again keeps what it has

  // Another process is refused while the lock is held.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance other(path);
    _exit(other.Acquire() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);

  SingleInstance second(path);
  EXPECT_FALSE(second.Acquire());
  first.reset();
  EXPECT_TRUE(second.Acquire());
}

TEST(SingleInstanceTest, NoLockFileMeansNoGuard) {
  SingleInstance nowhere("/nonexistent-folder/Quenvale");
  EXPECT_TRUE(nowhere.Acquire());
}

}  // namespace
}  // namespace quenvale
