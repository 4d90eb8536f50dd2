#include "saver/saver.h"

#include <gtest/gtest.h>

#include <map>

#include "datafile/zip_writer.h"
#include "display/software_surface.h"
#include "imaging/png_writer.h"
#include "saver/session.h"
#include "settings/memory_value_store.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

constexpr char kExe[] = "C:\\Savers\\Test Saver.scr";

// Answers from a script when one is queued, otherwise from a seeded twister.
class ScriptedRandom : public RandomSource {
 public:
  int32_t Random(int32_t range) override {
    ++calls;
    if (!integers.empty()) {
      const int32_t value = integers.front();
      integers.erase(integers.begin());
      return value;
    }
    return fallback.Random(range);
  }
  double RandomReal() override {
    if (!reals.empty()) {
      const double value = reals.front();
      reals.erase(reals.begin());
      return value;
    }
    return fallback.RandomReal();
  }
  void Seed(uint64_t seed) override { fallback.Seed(seed); }

  std::vector<int32_t> integers;
  std::vector<double> reals;
  int calls = 0;
  DefaultRandom fallback{7};
};

class MemoryHost : public DataFileHost {
 public:
  std::string ExecutablePath() const override { return kExe; }
  [[noreturn]] void Fatal(const std::string& message, int) override {
    throw std::runtime_error(message);
  }
  void ArchiveMessage(const std::string&) override {}
  void Notice(const std::string& message) override { notices.push_back(message); }
  int32_t Random(int32_t range) override { return range > 1 ? 1 % range : 0; }
  void OpenArchive(ZipArchive& zip, const std::string& path) override { zip.OpenMemory(archive, path); }
  std::vector<uint8_t> archive;
  std::vector<std::string> notices;
};

std::vector<uint8_t> SolidPng(int width, int height, uint32_t color, uint32_t corner) {
  Picture picture;
  picture.Allocate(width, height);
  for (uint32_t& p : picture.pixels) p = color;
  picture.At(0, 0) = corner;
  return EncodePng(picture);
}

std::string SettingsText(const std::map<std::string, std::string>& overrides) {
  std::map<std::string, std::string> values = {
      {"title", "Test Saver"}, {"BackgroundColor", "$000080"}, {"showBackground", "false"},
      {"nrImages", "3"}, {"Speed", "0"}, {"bounceImages", "true"}, {"fixedSpeed", "false"},
      {"noBouncingLogos", "false"}, {"SetTime", "30"}, {"clock", "0"}, {"filename", "1"}};
  for (const auto& [k, v] : overrides) values[k] = v;
  std::string text = "[general]\r\ntitle=" + values["title"] + "\r\nBackgroundColor=" +
                     values["BackgroundColor"] + "\r\nshowBackground=" + values["showBackground"] +
                     "\r\n[bounce]\r\nnrImages=" + values["nrImages"] + "\r\nSpeed=" +
                     values["Speed"] + "\r\nbounceImages=" + values["bounceImages"] +
                     "\r\nfixedSpeed=" + values["fixedSpeed"] + "\r\nnoBouncingLogos=" +
                     values["noBouncingLogos"] + "\r\n[sets]\r\nSetTime=" + values["SetTime"] +
                     "\r\n[clocksettings]\r\nclock=" + values["clock"] +
                     "\r\n[FilenameSettings]\r\nfilename=" + values["filename"] + "\r\n";
  return text;
}

// A data file with `sets` sets named a, b, c...: 200x100 backgrounds and 20x10 sprites.
struct Fixture {
  explicit Fixture(int sets = 2, const std::map<std::string, std::string>& overrides = {},
                   SaverMode mode = SaverMode::smSave, int background_width = 200,
                   int background_height = 100) {
    std::vector<ZipWriterEntry> entries;
    const std::string text = SettingsText(overrides);
    entries.push_back(ZipWriterEntry{"settings.txt", std::vector<uint8_t>(text.begin(), text.end()), 0});
    for (int i = 0; i < sets; ++i) {
      const std::string name(1, static_cast<char>('a' + i));
      entries.push_back(ZipWriterEntry{"backgrounds/" + name + ".png",
                                       SolidPng(background_width, background_height, Rgb(0, 0, 10 * (i + 1)),
                                                Rgb(0, 0, 10 * (i + 1))),
                                       0});
      entries.push_back(ZipWriterEntry{"icons/" + name + ".png",
                                       SolidPng(20, 10, Rgb(255, 255, 255), Rgb(255, 0, 0)), 0});
      entries.push_back(ZipWriterEntry{"icons/thumbs/" + name + ".png",
                                       SolidPng(4, 2, Rgb(255, 255, 255), Rgb(255, 0, 0)), 0});
    }
    uint8_t counter = 0;
    host.archive = WriteEncryptedZip(entries, ArchivePasswordFor(kExe), [&counter]() { return counter++; });
    data_file = std::make_unique<ZipFileSettings>(host, mode);
    data_file->ListSets();
    settings = std::make_unique<Settings>(*data_file, store);
    saver = std::make_unique<Saver>(*data_file, *settings, mode, random);
    saver->SetClientSize(640, 480);
    saver->SetTimeText([] { return std::string("12:34:56"); });
  }

  MemoryHost host;
  MemoryValueStore store;
  ScriptedRandom random;
  std::unique_ptr<ZipFileSettings> data_file;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<Saver> saver;
};

TEST(SaverTest, RunningTimeDropsWholeDays) {
  EXPECT_EQ(RunningTimeText(0), "00:00:00");
  EXPECT_EQ(RunningTimeText(3599), "00:59:59");
  EXPECT_EQ(RunningTimeText(3725), "01:02:05");
  EXPECT_EQ(RunningTimeText(86400), "00:00:00");
  EXPECT_EQ(RunningTimeText(86400 + 3661), "01:01:01");
}

TEST(SaverTest, ClockTimerCountsOnlyItsOwnTicks) {
  Fixture f(1, {{"clock", "2"}});
  f.saver->FormCreate(640, 480);
  EXPECT_EQ(f.saver->ClockText(), "00:00:00");
  for (int i = 0; i < 61; ++i) f.saver->tClockTimer(true);
  f.saver->tClockTimer(false);
  EXPECT_EQ(f.saver->ClockText(), "00:01:01");
  EXPECT_EQ(f.saver->RunningSeconds(), 61u);
  // Numpad 5 cycles 2 -> 0 (the text stays) -> 1 (the current time at once) -> 2.
  EXPECT_FALSE(f.saver->FormKeyDown(kVkNumpad5));
  EXPECT_EQ(f.settings->Clock, 0);
  EXPECT_EQ(f.saver->ClockText(), "00:01:01");
  f.saver->FormKeyDown(kVkNumpad5);
  EXPECT_EQ(f.saver->ClockText(), "12:34:56");
  f.saver->tClockTimer(true);  // seconds run on while another clock shows
  f.saver->FormKeyDown(kVkNumpad5);
  EXPECT_EQ(f.saver->ClockText(), "00:01:02");
}

TEST(SaverTest, KeyTableChangesTheSettingsWithinTheirLimits) {
  Fixture f(3, {{"Speed", "1"}, {"nrImages", "1"}});
  f.saver->FormCreate(640, 480);
  Settings& s = *f.settings;
  f.saver->FormKeyDown(kVkDown);
  EXPECT_EQ(s.Speed, 1) << "the down key stops at 1";
  f.saver->FormKeyDown(kVkUp);
  f.saver->FormKeyDown(kVkNumpad8);
  EXPECT_EQ(s.Speed, 3);
  f.saver->FormKeyDown(kVkNumpad2);
  EXPECT_EQ(s.Speed, 2);

  f.saver->FormKeyDown(kVkSubtract);
  EXPECT_EQ(s.NrImages, 1) << "the minus key stops at 1";
  f.saver->FormKeyDown(kVkAdd);
  EXPECT_EQ(s.NrImages, 2);
  EXPECT_EQ(f.saver->Sprites().size(), 2u);
  f.saver->FormKeyDown(kVkSubtract);
  EXPECT_EQ(s.NrImages, 1);
  EXPECT_EQ(f.saver->Sprites().size(), 2u) << "the array keeps its length";

  s.ClockFont.Font.SetSize(0);
  f.saver->FormKeyDown(kVkDivide);
  EXPECT_EQ(s.ClockFont.Font.Size(), 0) << "a size of 0 does not go below";
  f.saver->FormKeyDown(kVkMultiply);
  EXPECT_EQ(s.ClockFont.Font.Size(), 1);
  const int32_t filename_size = s.FilenameFont.Font.Size();
  f.saver->FormKeyDown(kVkNumpad0);
  EXPECT_EQ(s.FilenameFont.Font.Size(), filename_size + 1);
  f.saver->FormKeyDown(kVkDecimal);
  f.saver->FormKeyDown(kVkDecimal);
  EXPECT_EQ(s.FilenameFont.Font.Size(), filename_size - 1);

  EXPECT_EQ(s.Filename, 1);
  f.saver->FormKeyDown(kVkNumpad1);
  EXPECT_EQ(s.Filename, 0);
  f.saver->FormKeyDown(kVkNumpad1);
  EXPECT_EQ(s.Filename, 1);
  f.saver->FormKeyDown(kVkNumpad7);
  EXPECT_TRUE(s.ShowBackground);
  f.saver->FormKeyDown(kVkNumpad9);
  EXPECT_FALSE(s.BounceImages);
}

TEST(SaverTest, LeftArrowStepsForwardAndWrapsRightArrowBack) {
  Fixture f(3);
  f.saver->FormCreate(640, 480);
  f.data_file->SelectSet(2);
  f.saver->FormKeyDown(kVkLeft);
  EXPECT_EQ(f.data_file->CurrentSetIndex(), 0);
  f.saver->FormKeyDown(kVkRight);
  EXPECT_EQ(f.data_file->CurrentSetIndex(), 2);
  f.saver->FormKeyDown(kVkNumpad6);
  EXPECT_EQ(f.data_file->CurrentSetIndex(), 1);
  f.saver->FormKeyDown(kVkNumpad4);
  EXPECT_EQ(f.data_file->CurrentSetIndex(), 2);
}

class EndingKeyTest : public TestWithParam<uint16_t> {};

TEST_P(EndingKeyTest, EveryOtherKeyAsksToClose) {
  Fixture f(1);
  f.saver->FormCreate(640, 480);
  EXPECT_TRUE(f.saver->FormKeyDown(GetParam()));
}

// Numpad 3, separator, Escape, Enter, Shift, Ctrl, Alt, letters and digits.
INSTANTIATE_TEST_SUITE_P(Keys, EndingKeyTest,
                         Values(99, 108, 27, 13, 16, 17, 18, 'A', 'C', '0', '5', 112));

TEST(SaverTest, TableKeysAreExactlyTheKeysThatDoNotClose) {
  Fixture f(3);
  f.saver->FormCreate(640, 480);
  for (int key = 0; key < 256; ++key) {
    EXPECT_EQ(Saver::IsTableKey(static_cast<uint16_t>(key)),
              !f.saver->FormKeyDown(static_cast<uint16_t>(key)))
        << "key " << key;
  }
}

TEST(SaverTest, CountsAndSpeedsPastTheLimitsAreBroughtDownAndNamed) {
  Fixture f(1, {{"nrImages", "2147483647"}, {"Speed", "10001"}});
  KeepWithinLimits(*f.settings, f.host);
  EXPECT_EQ(f.settings->NrImages, kMaxSprites);
  EXPECT_EQ(f.settings->Speed, kMaxSpeed);
  ASSERT_EQ(f.host.notices.size(), 2u);
  EXPECT_EQ(f.host.notices[0], "bounce nrImages 2147483647 is more than the saver can show; using 10000");
  EXPECT_EQ(f.host.notices[1], "bounce Speed 10001 is more than the saver can show; using 10000");
  KeepWithinLimits(*f.settings, f.host);
  EXPECT_EQ(f.host.notices.size(), 2u) << "values at the limit stay as they are";
  // The keys stop at the limits too (placing 10000 sprites would only slow the test down).
  Fixture small(1);
  small.saver->FormCreate(640, 480);
  small.settings->Speed = kMaxSpeed;
  small.settings->NrImages = kMaxSprites;
  small.saver->FormKeyDown(kVkUp);
  small.saver->FormKeyDown(kVkAdd);
  EXPECT_EQ(small.settings->Speed, kMaxSpeed);
  EXPECT_EQ(small.settings->NrImages, kMaxSprites);
}

TEST(SaverTest, MovementRuleNeedsThreePixelsBothWays) {
  Fixture f(1);
  f.saver->FormCreate(640, 480);
  EXPECT_FALSE(f.saver->FormMouseMove(500, 400)) << "the first report only sets the reference";
  EXPECT_FALSE(f.saver->FormMouseMove(503, 400));
  EXPECT_FALSE(f.saver->FormMouseMove(502, 450));
  EXPECT_FALSE(f.saver->FormMouseMove(501, 401));
  EXPECT_FALSE(f.saver->FormMouseMove(498, 398)) << "2 left and 2 up";
  EXPECT_TRUE(f.saver->FormMouseMove(497, 397));
  // The reference moved with the ending report.
  EXPECT_FALSE(f.saver->FormMouseMove(499, 399));
  EXPECT_TRUE(f.saver->FormMouseMove(500, 400));
}

TEST(SaverTest, SetChangeTimerAlternatesBetweenTwoSetsAndIgnoresOne) {
  Fixture two(2);
  two.saver->FormCreate(640, 480);
  for (int tick = 0; tick < 6; ++tick) {
    const int before = two.data_file->CurrentSetIndex();
    two.saver->tSetChangeTimer();
    EXPECT_EQ(two.data_file->CurrentSetIndex(), 1 - before);
  }
  Fixture one(1);
  one.saver->FormCreate(640, 480);
  const int calls = one.random.calls;
  one.saver->tSetChangeTimer();
  EXPECT_EQ(one.data_file->CurrentSetIndex(), 0);
  EXPECT_EQ(one.random.calls, calls) << "one set: no random number is even drawn";
  EXPECT_EQ(two.saver->SetChangeInterval(), 30000);
  Fixture never(2, {{"SetTime", "0"}});
  EXPECT_EQ(never.saver->SetChangeInterval(), 0);
}

TEST(SaverTest, SetPicturesAndTheSpriteColourKey) {
  Fixture f(2);
  f.saver->FormCreate(640, 480);
  PictureItem& sprite = f.saver->ImageList().Items(Saver::kSpriteItem);
  EXPECT_EQ(f.saver->SpriteIndex(), Saver::kSpriteItem);
  EXPECT_EQ(f.saver->SpriteWidth(), 20);
  EXPECT_EQ(f.saver->SpriteHeight(), 10);
  EXPECT_TRUE(sprite.Transparent);
  EXPECT_EQ(sprite.TransparentColor(), 0x0000FF) << "the red top-left pixel, as 0x00BBGGRR";
  EXPECT_FALSE(f.saver->ImageList().Items(Saver::kBackgroundItem).Transparent);

  Fixture logos(2, {{"noBouncingLogos", "true"}});
  logos.saver->FormCreate(640, 480);
  EXPECT_EQ(logos.saver->SpriteIndex(), Saver::kBackgroundItem);
  EXPECT_EQ(logos.saver->SpriteWidth(), 200);
  EXPECT_EQ(logos.saver->ImageList().Items(Saver::kSpriteItem).GetPicture().width, 0)
      << "the sprite item is never loaded";

  Fixture preview(1, {}, SaverMode::smPreview);
  preview.saver->FormCreate(152, 112);
  EXPECT_EQ(preview.saver->SpriteWidth(), 4) << "preview sprites are the thumbnails";
}

TEST(SaverTest, PlacementDrawsXThenYThenTwoRealsAndRetriesOverlaps) {
  Fixture f(1, {{"nrImages", "2"}});
  // Sprite 0 at (5, 6); sprite 1 first on top of it (rejected), then at (100, 50).
  f.random.integers = {5, 6, 10, 6, 100, 50};
  f.random.reals = {0.75, 0.25, 0.0, 0.9, 0.5, 0.125};
  f.data_file->SelectSet(0);
  f.saver->FormCreate(640, 480);
  // FormCreate drew the random set first; the script above starts after it.
  const auto& sprites = f.saver->Sprites();
  ASSERT_EQ(sprites.size(), 2u);
  EXPECT_EQ(sprites[0].Position.X, 5.0f);
  EXPECT_EQ(sprites[0].Position.Y, 6.0f);
  EXPECT_EQ(sprites[0].Velocity.X, 0.25f);
  EXPECT_EQ(sprites[0].Velocity.Y, -0.25f);
  EXPECT_EQ(sprites[1].Position.X, 100.0f);
  EXPECT_EQ(sprites[1].Position.Y, 50.0f);
  EXPECT_EQ(sprites[1].Velocity.X, 1.0f) << "a zero component becomes 1";
  EXPECT_EQ(sprites[1].Velocity.Y, -0.375f);
}

TEST(SaverTest, FullScreenGivesUpAfterAHundredAttempts) {
  Fixture f(1, {{"nrImages", "2"}});
  f.saver->FormCreate(20, 10);  // exactly one sprite's room: every attempt overlaps
  EXPECT_EQ(f.saver->Sprites()[1].Position.X, 0.0f);
  Fixture count(1, {{"nrImages", "2"}});
  count.random.integers.clear();
  count.saver->FormCreate(20, 10);
  // Random() is asked for x and y per attempt: 2 for the first sprite, 200 for the second.
  EXPECT_EQ(count.random.calls, 202);
}

TEST(SaverTest, FixedSpeedGivesUnitVelocities) {
  Fixture f(1, {{"nrImages", "40"}, {"fixedSpeed", "true"}});
  f.saver->FormCreate(4000, 3000);
  for (const Sprite& s : f.saver->Sprites()) {
    EXPECT_NEAR(Length(s.Velocity), 1.0f, 1e-6f);
  }
}

struct BackgroundCase {
  int picture_width, picture_height;
  bool stretch;
  int device_width, device_height;
  Rect expected;
};

class BackgroundTest : public TestWithParam<BackgroundCase> {};

// The background keeps its aspect ratio, is centred, and is enlarged only when asked to.
TEST_P(BackgroundTest, FillsAroundTheScaledPicture) {
  const BackgroundCase& c = GetParam();
  Fixture f(1,
            {{"showBackground", "true"}, {"nrImages", "0"},
             {"stretchSmallImages", c.stretch ? "true" : "false"}},
            SaverMode::smSave, c.picture_width, c.picture_height);
  f.settings->StretchSmallImages = c.stretch;
  SoftwareDevice device(c.device_width, c.device_height);
  f.saver->SetClientSize(c.device_width, c.device_height);
  f.saver->FormCreate(c.device_width, c.device_height);
  f.saver->ImageList().Initialized(device);
  f.saver->ImageList().Restored();
  f.saver->FrameTimerTimer(device);
  EXPECT_EQ(device.FlipCount(), 1);
  const SoftwareSurface& back = device.Back();
  const uint32_t picture = 0x00000A, fill = 0x800000;  // $000080 is 0x00BBGGRR: dark blue
  int inside = 0, outside = 0;
  for (int y = 0; y < c.device_height; ++y) {
    for (int x = 0; x < c.device_width; ++x) {
      const bool in = x >= c.expected.Left && x < c.expected.Right && y >= c.expected.Top &&
                      y < c.expected.Bottom;
      const uint32_t pixel = back.Pixel(x, y) & 0xFFFFFF;
      if (pixel != (in ? picture : fill)) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << pixel;
        return;
      }
      (in ? inside : outside)++;
    }
  }
  EXPECT_EQ(inside, c.expected.Width() * c.expected.Height());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BackgroundTest,
    Values(BackgroundCase{800, 600, false, 1024, 768, Rect{112, 84, 912, 684}},
           BackgroundCase{800, 600, true, 1024, 768, Rect{0, 0, 1024, 768}},
           BackgroundCase{2000, 500, false, 1024, 768, Rect{0, 256, 1024, 512}},
           BackgroundCase{100, 400, false, 300, 200, Rect{125, 0, 175, 200}},
           BackgroundCase{1024, 768, false, 1024, 768, Rect{0, 0, 1024, 768}}));

TEST(SaverFrameTest, SpritesAreDrawnRoundedWithTheirColourKey) {
  Fixture f(1, {{"nrImages", "1"}, {"Speed", "-1"}});
  SoftwareDevice device(640, 480);
  f.saver->FormCreate(640, 480);
  f.saver->ImageList().Initialized(device);
  f.saver->ImageList().Restored();
  f.saver->Sprites()[0].Position = Vector(10.5f, 20.5f);  // rounds to (10, 20)
  f.saver->FrameTimerTimer(device);
  const SoftwareSurface& back = device.Back();
  EXPECT_EQ(back.Pixel(10, 20) & 0xFFFFFF, 0x800000u) << "the red corner is the colour key";
  EXPECT_EQ(back.Pixel(11, 20) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.Pixel(29, 29) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.Pixel(30, 29) & 0xFFFFFF, 0x800000u);
  EXPECT_EQ(f.saver->Sprites()[0].Position.X, 10.5f) << "a negative speed moves nothing";
}

// Bounding box of the pixels of exactly one colour in a region.
Rect BoxOf(const SoftwareSurface& surface, uint32_t color, const Rect& region) {
  Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int y = region.Top; y < region.Bottom; ++y) {
    for (int x = region.Left; x < region.Right; ++x) {
      if ((surface.Pixel(x, y) & 0xFFFFFF) != color) continue;
      box.Left = std::min(box.Left, x);
      box.Top = std::min(box.Top, y);
      box.Right = std::max(box.Right, x + 1);
      box.Bottom = std::max(box.Bottom, y + 1);
    }
  }
  return box;
}

TEST(SaverFrameTest, ClockIsWhiteOverABlackShadowInTheTopRightCorner) {
#ifdef _WIN32
  GTEST_SKIP() << "the software surface has no FreeType text on Windows";
#endif
  Fixture f(1, {{"clock", "2"}, {"nrImages", "0"}});
  SoftwareDevice device(640, 480);
  f.saver->FormCreate(640, 480);
  f.saver->ImageList().Initialized(device);
  f.saver->ImageList().Restored();
  f.saver->FrameTimerTimer(device);
  const Rect corner{320, 0, 640, 120};
  const Rect white = BoxOf(device.Back(), 0xFFFFFF, corner);
  const Rect black = BoxOf(device.Back(), 0x000000, corner);
  ASSERT_FALSE(white.Empty()) << "no white clock text";
  ASSERT_FALSE(black.Empty()) << "no black shadow";
  EXPECT_EQ(black.Right, white.Right + 2);
  EXPECT_EQ(black.Bottom, white.Bottom + 2);
  EXPECT_LE(white.Right, 640 - 2) << "the clock ends 2 pixels from the right edge";
  EXPECT_GE(white.Right, 640 - 8);
  EXPECT_LT(white.Top, 12);
  // Nothing of the clock strays into the rest of the surface.
  EXPECT_TRUE(BoxOf(device.Back(), 0xFFFFFF, Rect{0, 0, 320, 480}).Empty());
}

TEST(SaverFrameTest, SetNameIsInTheFilenameFontColourWithAOnePixelShadow) {
#ifdef _WIN32
  GTEST_SKIP() << "the software surface has no FreeType text on Windows";
#endif
  Fixture f(1, {{"filename", "0"}, {"nrImages", "0"}});
  f.settings->FilenameFont.Font.Color = 0x00FF00;  // clLime
  SoftwareDevice device(640, 480);
  f.saver->FormCreate(640, 480);
  f.saver->ImageList().Initialized(device);
  f.saver->ImageList().Restored();
  f.saver->FrameTimerTimer(device);
  const Rect corner{0, 0, 200, 120};
  const Rect lime = BoxOf(device.Back(), 0x00FF00, corner);
  const Rect black = BoxOf(device.Back(), 0x000000, corner);
  ASSERT_FALSE(lime.Empty()) << "no set name in the font's colour";
  EXPECT_EQ(black.Right, lime.Right + 1);
  EXPECT_EQ(black.Bottom, lime.Bottom + 1);
  EXPECT_LT(lime.Left, 4);
}

TEST(SaverFrameTest, SpritesAtTheEdgesAreClipped) {
  Fixture f(1, {{"nrImages", "2"}, {"Speed", "-1"}});
  SoftwareDevice device(640, 480);
  f.saver->FormCreate(640, 480);
  f.saver->ImageList().Initialized(device);
  f.saver->ImageList().Restored();
  f.saver->Sprites()[0].Position = Vector(630, 475);  // 20 x 10: half of it off the surface
  f.saver->Sprites()[1].Position = Vector(0, 0);
  f.saver->FrameTimerTimer(device);
  const SoftwareSurface& back = device.Back();
  EXPECT_EQ(back.Pixel(639, 479) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.Pixel(631, 476) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.Pixel(629, 476) & 0xFFFFFF, 0x800000u);
  EXPECT_EQ(back.Pixel(0, 0) & 0xFFFFFF, 0x800000u) << "the keyed corner";
  EXPECT_EQ(back.Pixel(19, 9) & 0xFFFFFF, 0xFFFFFFu);
}

// Records the fonts a frame sets, drawing nothing.
class RecordingCanvas : public Canvas {
 public:
  void SetFont(const Font& font) override { fonts.push_back(font); }
  int32_t TextWidth(const std::string&) override { return 0; }
  void TextOut(int32_t, int32_t, const std::string&) override {}
  void Release() override { ++releases; }
  std::vector<Font> fonts;
  int releases = 0;
};

class RecordingSurface : public SoftwareSurface {
 public:
  using SoftwareSurface::SoftwareSurface;
  Canvas& GetCanvas() override { return canvas; }
  RecordingCanvas canvas;
};

class RecordingDevice : public DrawDevice {
 public:
  RecordingDevice(int w, int h) : back(w, h) {}
  bool CanDraw() override { return can_draw; }
  Surface& BackSurface() override { return back; }
  void Flip() override { ++flips; }
  std::unique_ptr<Surface> CreateSurface(const Picture& picture) override {
    return std::make_unique<SoftwareSurface>(picture);
  }
  RecordingSurface back;
  bool can_draw = true;
  int flips = 0;
};

struct FontSizeCase {
  int points;
  int preview_points;
};

class PreviewFontTest : public TestWithParam<FontSizeCase> {};

TEST_P(PreviewFontTest, OverlayFontsAreDividedBySixPointFour) {
  Fixture f(1, {{"clock", "1"}, {"filename", "0"}, {"nrImages", "0"}}, SaverMode::smPreview);
  f.settings->ClockFont.Font.SetSize(GetParam().points);
  f.settings->FilenameFont.Font.SetSize(GetParam().points);
  RecordingDevice device(152, 112);
  f.saver->FormCreate(152, 112);
  f.saver->FrameTimerTimer(device);
  ASSERT_FALSE(device.back.canvas.fonts.empty());
  for (const Font& font : device.back.canvas.fonts) EXPECT_EQ(font.Size(), GetParam().preview_points);
  EXPECT_EQ(f.settings->ClockFont.Font.Size(), GetParam().points) << "the setting is unchanged";
  EXPECT_EQ(device.back.canvas.releases, 1);
  EXPECT_EQ(device.flips, 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PreviewFontTest,
                         Values(FontSizeCase{10, 2}, FontSizeCase{8, 1}, FontSizeCase{24, 4},
                                FontSizeCase{16, 2}));

TEST(SaverFrameTest, AFrameInSlicesIsTheWholeFrame) {
  const std::map<std::string, std::string> busy = {{"nrImages", "40"}, {"Speed", "300"},
                                                    {"clock", "2"}, {"filename", "0"}};
  Fixture whole(1, busy), sliced(1, busy);
  whole.saver->FormCreate(640, 480);
  sliced.saver->FormCreate(640, 480);
  SoftwareDevice whole_device(640, 480), sliced_device(640, 480);
  for (Fixture* f : {&whole, &sliced}) {
    f->saver->ImageList().Initialized(f == &whole ? whole_device : sliced_device);
    f->saver->ImageList().Restored();
  }
  for (int frame = 0; frame < 3; ++frame) {
    whole.saver->FrameTimerTimer(whole_device);
    // A deadline already past: every slice stops at its first look at the clock.
    int slices = 1;
    while (!sliced.saver->FrameSlice(sliced_device, Saver::Clock::time_point::min())) {
      EXPECT_TRUE(sliced.saver->FrameUnfinished());
      ++slices;
    }
    EXPECT_GT(slices, 30) << "301 steps, a look at the clock every 8";
    EXPECT_FALSE(sliced.saver->FrameUnfinished());
    for (size_t i = 0; i < whole.saver->Sprites().size(); ++i) {
      EXPECT_EQ(whole.saver->Sprites()[i].Position.X, sliced.saver->Sprites()[i].Position.X);
      EXPECT_EQ(whole.saver->Sprites()[i].Velocity.Y, sliced.saver->Sprites()[i].Velocity.Y);
    }
    EXPECT_TRUE(whole_device.Screen().pixels == sliced_device.Screen().pixels) << "frame " << frame;
  }
}

// A device whose back surface counts as new every frame: the saver draws all of each frame.
class FreshDevice : public SoftwareDevice {
 public:
  using SoftwareDevice::SoftwareDevice;
  uint64_t KeptBackSurface() const override { return 0; }
};

// Frames put together from the last one's parts must be the frames drawn whole, through what
// changes the background: a set change, the colour, the background shown or not, a new layout.
TEST(SaverFrameTest, FramesRedrawnInPartsAreTheWholeFrames) {
  const std::map<std::string, std::string> busy = {{"nrImages", "12"}, {"Speed", "40"},
                                                    {"clock", "2"},     {"filename", "0"},
                                                    {"showBackground", "true"}};
  Fixture parts(2, busy), whole(2, busy);
  SoftwareDevice parts_device(640, 480);
  FreshDevice whole_device(640, 480);
  for (Fixture* f : {&parts, &whole}) {
    f->saver->FormCreate(640, 480);
    f->saver->ImageList().Initialized(f == &parts ? static_cast<DrawDevice&>(parts_device)
                                                  : whole_device);
    f->saver->ImageList().Restored();
  }
  for (int frame = 0; frame < 40; ++frame) {
    for (Fixture* f : {&parts, &whole}) {
      if (frame == 8) f->saver->tSetChangeTimer();
      if (frame == 14) f->settings->BackgroundColor = 0x00336699;
      if (frame == 20) f->settings->ShowBackground = false;
      if (frame == 26) f->settings->ShowBackground = true;
      if (frame == 32) f->saver->SetClientSize(600, 400);
      if (frame % 5 == 0) f->saver->tClockTimer(true);
    }
    parts.saver->FrameTimerTimer(parts_device);
    whole.saver->FrameTimerTimer(whole_device);
    ASSERT_TRUE(parts_device.Screen().pixels == whole_device.Screen().pixels) << "frame " << frame;
  }
}

TEST(SaverFrameTest, NothingHappensWhileTheDeviceCannotDraw) {
  Fixture f(1, {{"clock", "0"}, {"filename", "1"}});
  RecordingDevice device(640, 480);
  f.saver->FormCreate(640, 480);
  const Vector before = f.saver->Sprites()[0].Position;
  device.can_draw = false;
  f.saver->FrameTimerTimer(device);
  EXPECT_EQ(device.flips, 0);
  EXPECT_EQ(f.saver->Sprites()[0].Position.X, before.X) << "the sprites stand still";
  device.can_draw = true;
  f.saver->FrameTimerTimer(device);
  EXPECT_EQ(device.flips, 1);
  EXPECT_EQ(device.back.canvas.releases, 1) << "released even with no text";
  EXPECT_TRUE(device.back.canvas.fonts.empty());
}


// What a session tells its host, kept for the test to read.
struct RecordingSessionHost : SessionHost {
  void ReportFailure(const std::string& message) override { failures.push_back(message); }
  bool ResizeDevice(int32_t* width, int32_t* height) override {
    resizes.push_back({*width, *height});
    return true;
  }
  void FrameFinished() override { ++frames; }
  std::vector<std::string> failures;
  std::vector<std::pair<int32_t, int32_t>> resizes;
  int frames = 0;
};

// The timers on the front end's millisecond counter: each due one interval after it was last due
// (through the counter's wrap), once however far behind, and nothing after Close.
TEST(SaverSessionTest, TimersComeDueOnceAnIntervalThroughTheCountersWrap) {
  Fixture f(3, {{"clock", "2"}, {"SetTime", "3"}});
  RecordingSessionHost host;
  SaverSession session(*f.data_file, f.store, SaverMode::smSave, f.random, host);
  ASSERT_TRUE(session.Open());
  ASSERT_TRUE(session.Start(640, 480));
  const uint32_t start = UINT32_MAX - 499;
  session.Begin(start);
  const int first_set = f.data_file->CurrentSetIndex();
  struct Step {
    uint32_t after;    // milliseconds from the start
    bool ran;          // a timer ran
    uint32_t seconds;  // the running seconds then
  };
  for (const Step& step :
       {Step{999, false, 0}, Step{1200, true, 1}, Step{1200, false, 1}, Step{1999, false, 1},
        Step{2000, true, 2}, Step{6500, true, 3}, Step{7499, false, 3}, Step{7500, true, 4}}) {
    EXPECT_EQ(session.RunTimers(start + step.after), step.ran) << step.after;
    EXPECT_EQ(session.saver().RunningSeconds(), step.seconds) << step.after;
  }
  EXPECT_NE(f.data_file->CurrentSetIndex(), first_set) << "the set changes at 3 s";
  session.Close();
  EXPECT_FALSE(session.RunTimers(start + 100000));
  EXPECT_EQ(session.Run(start + 100000), FrameTimer::kNever);
  EXPECT_FALSE(session.KeyDown('A'));
  EXPECT_TRUE(host.failures.empty());
}

// While a frame's steps are under way, the key table's keys and resizes wait for its end; a key
// that ends the saver is answered at once.
TEST(SaverSessionTest, WhatChangesAFrameWaitsForItsEnd) {
  Fixture f(2, {{"nrImages", "40"}, {"Speed", "300"}});
  RecordingSessionHost host;
  SaverSession session(*f.data_file, f.store, SaverMode::smPreview, f.random, host);
  ASSERT_TRUE(session.Open());
  ASSERT_TRUE(session.Start(640, 480));
  SoftwareDevice device(640, 480);
  session.Bind(device);
  session.Begin(0);
  const int32_t speed = session.settings().Speed;
  ASSERT_FALSE(session.saver().FrameSlice(device, Saver::Clock::time_point::min()));
  ASSERT_TRUE(session.FrameUnfinished());
  EXPECT_FALSE(session.KeyDown(kVkUp));
  session.Resize(320, 240);
  EXPECT_TRUE(session.KeyDown('A')) << "a key outside the table ends the saver at once";
  EXPECT_EQ(session.settings().Speed, speed);
  EXPECT_TRUE(host.resizes.empty());
  while (session.FrameUnfinished()) EXPECT_EQ(session.Run(0), 0u);
  EXPECT_EQ(host.frames, 1);
  EXPECT_EQ(session.settings().Speed, speed + 1);
  EXPECT_EQ(host.resizes, (std::vector<std::pair<int32_t, int32_t>>{{320, 240}}));
  // No frame under way: both at once.
  session.Resize(200, 100);
  session.KeyDown(kVkDown);
  EXPECT_EQ(host.resizes.size(), 2u);
  EXPECT_EQ(session.settings().Speed, speed);
  EXPECT_TRUE(host.failures.empty());
}

// A desk of two monitors: the second shows the lead's set and settings at its own size, sends its
// keys to the lead, follows what they change once no frame of either is under way, and writes
// nothing; the lead writes the settings once.
TEST(SaverSessionTest, AFurtherMonitorFollowsTheLead) {
  // The user may change the speed: the settings have something to write.
  Fixture f(3, {{"nrImages", "40"}, {"Speed", "300\r\nsetSpeed=true"}, {"showBackground", "true"}});
  RecordingSessionHost lead_host, other_host;
  SaverSession lead(*f.data_file, f.store, SaverMode::smSave, f.random, lead_host);
  ASSERT_TRUE(lead.Open());
  ASSERT_TRUE(lead.Start(640, 480));
  SaverSession other(lead, other_host);
  ASSERT_TRUE(other.Open());
  const int set = f.data_file->CurrentSetIndex();
  ASSERT_TRUE(other.Start(320, 200));
  EXPECT_EQ(f.data_file->CurrentSetIndex(), set) << "a further monitor draws no set of its own";
  SoftwareDevice lead_device(640, 480), other_device(320, 200);
  lead.Bind(lead_device);
  other.Bind(other_device);
  lead.Begin(0);
  other.Begin(0);
  const auto background = [](SaverSession& s) {
    return s.saver().ImageList().Items(Saver::kBackgroundItem).GetPicture().At(1, 1);
  };
  const uint32_t first_background = background(other);
  const int32_t speed = lead.settings().Speed;

  // The other monitor's frame under way holds the lead's table keys back too.
  ASSERT_FALSE(other.saver().FrameSlice(other_device, Saver::Clock::time_point::min()));
  EXPECT_FALSE(other.KeyDown(kVkUp));
  EXPECT_FALSE(lead.KeyDown(kVkAdd));
  EXPECT_FALSE(lead.KeyDown(kVkLeft));
  EXPECT_EQ(lead.settings().Speed, speed);
  while (other.FrameUnfinished()) other.Run(0);
  EXPECT_EQ(&lead.settings(), &other.settings());
  EXPECT_EQ(lead.settings().Speed, speed + 1);
  EXPECT_NE(f.data_file->CurrentSetIndex(), set);
  // At its next turn the other monitor shows the new set and the added picture.
  other.Run(0);
  EXPECT_NE(background(other), first_background);
  EXPECT_EQ(background(other), background(lead));
  EXPECT_EQ(other.saver().Sprites().size(), 41u);
  EXPECT_TRUE(other.KeyDown('A'));

  other.Close();
  EXPECT_TRUE(f.store.WriteLog().empty());
  lead.Close();
  const size_t writes = f.store.WriteLog().size();
  EXPECT_GT(writes, 0u);
  lead.Close();
  EXPECT_EQ(f.store.WriteLog().size(), writes);
  EXPECT_TRUE(lead_host.failures.empty() && other_host.failures.empty());
}

}  // namespace
}  // namespace quenvale
