// The saver itself, free of any window system: the current set's pictures, the sprites, one
// frame, the clock text, the set-change timer, the key table and the movement rule. A front end
// owns the window, the timers and the drawing device; it creates the data file and the settings,
// calls FormCreate once, binds the image list when its surfaces exist, and forwards timer ticks,
// keys and mouse movements here.
#ifndef QUENVALE_SAVER_SAVER_H_
#define QUENVALE_SAVER_SAVER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "datafile/zip_file_settings.h"
#include "display/image_list.h"
#include "display/surface.h"
#include "saver/motion.h"
#include "settings/settings.h"

namespace quenvale {

// Uniform integers in [0, n) and reals in [0, 1).
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual int32_t Random(int32_t range) = 0;
  virtual double RandomReal() = 0;
  virtual void Seed(uint64_t seed) = 0;
};

// A Mersenne twister; seeded from the clock unless a seed is given.
class DefaultRandom : public RandomSource {
 public:
  DefaultRandom();
  explicit DefaultRandom(uint64_t seed) : engine_(seed) {}
  int32_t Random(int32_t range) override;
  double RandomReal() override;
  void Seed(uint64_t seed) override { engine_.seed(seed); }

 private:
  std::mt19937_64 engine_;
};

// Windows' virtual-key codes (named apart from the Windows header's macros); each front end
// maps its own keys onto them.
enum VirtualKey : uint16_t {
  kVkLeft = 37,
  kVkUp = 38,
  kVkRight = 39,
  kVkDown = 40,
  kVkNumpad0 = 96,
  kVkNumpad1 = 97,
  kVkNumpad2 = 98,
  kVkNumpad3 = 99,
  kVkNumpad4 = 100,
  kVkNumpad5 = 101,
  kVkNumpad6 = 102,
  kVkNumpad7 = 103,
  kVkNumpad8 = 104,
  kVkNumpad9 = 105,
  kVkMultiply = 106,
  kVkAdd = 107,
  kVkSeparator = 108,
  kVkSubtract = 109,
  kVkDecimal = 110,
  kVkDivide = 111,
};

// "hh:mm:ss" of the running time; whole days are dropped.
std::string RunningTimeText(uint32_t seconds);
// The current local time in the locale's own format.
std::string LocalTimeText();

// Brings "nrImages" and "Speed" down to kMaxSprites and kMaxSpeed, telling the host of each
// one it changes. Only a hand-made data file or a hand-edited stored value goes past them; the
// saver, and what it stores, keeps to them from then on.
void KeepWithinLimits(Settings& settings, DataFileHost& host);

class Saver {
 public:
  using Clock = std::chrono::steady_clock;

  // Item 0 of the image list holds the background picture, item 1 the sprite picture.
  static constexpr int kBackgroundItem = 0;
  static constexpr int kSpriteItem = 1;

  // `data_file` has listed its sets for `mode`; both must outlive the saver.
  Saver(ZipFileSettings& data_file, Settings& settings, SaverMode mode, RandomSource& random);

  // Which set a start shows: a random one, or the one the data file has (a saver on a further
  // monitor shows what the first one does).
  enum class StartSet : uint8_t { kRandom, kCurrent };
  // Start-up: the settings within their limits, a random set and its pictures, the sprites
  // placed, the clock text filled.
  // `placement_width` x `placement_height` is where new sprites may go: the screen in save
  // mode, the window's client area in preview.
  void FormCreate(int32_t placement_width, int32_t placement_height,
                  StartSet start_set = StartSet::kRandom);

  void LoadSetPictures();
  // Places sprite `index` where no earlier one's corner is within its width, if 100 tries find
  // such a place; `grid`, when given, holds the earlier sprites' corners and gets this one's.
  void PlaceSprite(int32_t index, PlacementGrid* grid = nullptr);
  // "+" has made the picture count `count`: as many sprites, the last one placed anew (a count
  // that went down and up again places that sprite again).
  void PictureAdded(int32_t count);

  // One frame onto the device's back surface, then presented.
  void FrameTimerTimer(DrawDevice& device);
  // The same frame in slices, for a front end that must answer input while a frame with many
  // motion steps runs: runs motion steps until they are done or `deadline` has passed, then
  // (once they are done) draws and presents the frame. True when the frame is over, false while
  // steps remain. Until it returns true nothing the frame reads may change: keys of the key
  // table, resizes and set changes wait; FormMouseMove and the closing keys may go on.
  bool FrameSlice(DrawDevice& device, Clock::time_point deadline);
  bool FrameUnfinished() const { return steps_left_ > 0; }
  // `from_clock` is true for the once-a-second tick, which counts a running second.
  void tClockTimer(bool from_clock);
  void tSetChangeTimer();
  // Milliseconds between set changes; 0 when the set never changes by itself.
  int32_t SetChangeInterval() const;

  // Input; each returns true when the window should be asked to close.
  bool FormKeyDown(uint16_t key);
  // Whether `key` is one of the key table's (which change the display) rather than one that
  // ends the saver.
  static bool IsTableKey(uint16_t key);
  bool FormMouseMove(int32_t x, int32_t y);

  // The window's client size, which the sprites bounce inside.
  void SetClientSize(int32_t width, int32_t height);
  void SetPlacementArea(int32_t width, int32_t height);

  // Where the current time comes from (the locale's long time format by default).
  void SetTimeText(std::function<std::string()> time_text) { time_text_ = std::move(time_text); }

  ZipFileSettings& DataFile() { return data_file_; }
  Settings& SaverSettings() { return settings_; }
  SurfaceImageList& ImageList() { return image_list_; }
  std::vector<Sprite>& Sprites() { return sprites_; }
  int32_t BackgroundIndex() const { return background_index_; }
  int32_t SpriteIndex() const { return sprite_index_; }
  int32_t SpriteWidth();
  int32_t SpriteHeight();
  uint32_t RunningSeconds() const { return running_seconds_; }
  const std::string& ClockText() const { return clock_text_; }
  bool Preview() const { return mode_ == SaverMode::smPreview; }

 private:
  struct Size {
    int32_t width, height;
  };
  // The size a `pw` x `ph` background is drawn at on a `dw` x `dh` surface.
  Size BackgroundSize(int32_t pw, int32_t ph, int32_t dw, int32_t dh) const;
  // What the background of a frame depends on; two frames with the same draw the same.
  struct FrameBackground {
    uint64_t kept_surface = 0;  // the device's KeptBackSurface
    const Surface* surface = nullptr;
    int32_t width = 0, height = 0;
    uint32_t color = 0;
    bool shown = false;
    Rect dest;  // where the picture goes, when shown
    int32_t index = -1;
    uint64_t version = 0;
    bool transparent = false;
    bool SameAs(const FrameBackground& o) const {
      return kept_surface == o.kept_surface && surface == o.surface && width == o.width &&
             height == o.height && color == o.color && shown == o.shown && dest == o.dest &&
             index == o.index && version == o.version && transparent == o.transparent;
    }
  };
  FrameBackground BackgroundFor(DrawDevice& device, Surface& surface);
  void DrawBackground(Surface& surface, const FrameBackground& background);
  // The background again within `parts` only; false where it cannot be drawn in parts (a
  // picture drawn scaled), and then the caller draws all of it.
  bool RedrawBackground(Surface& surface, const FrameBackground& background,
                        const std::vector<Rect>& parts);
  void DrawOverlays(Surface& surface);
  Font PreviewScaled(const Font& font) const;

  ZipFileSettings& data_file_;
  Settings& settings_;
  SaverMode mode_;
  RandomSource& random_;
  SurfaceImageList image_list_;
  std::vector<Sprite> sprites_;
  int32_t background_index_ = kBackgroundItem;
  int32_t sprite_index_ = kSpriteItem;
  uint32_t running_seconds_ = 0;
  std::string clock_text_;
  int32_t last_mouse_x_ = -1;
  int32_t last_mouse_y_ = -1;
  int32_t client_width_ = 0;
  int32_t client_height_ = 0;
  int32_t placement_width_ = 0;
  int32_t placement_height_ = 0;
  std::function<std::string()> time_text_;
  int64_t steps_left_ = 0;  // motion steps of the frame under way
  std::vector<std::pair<int32_t, int32_t>> places_;  // where the frame draws each sprite
  std::vector<Rect> sprite_rects_;  // what this frame's sprites draw over, while it is small
  // The last frame drawn: its background, and where it drew over it (sprites, text). Valid
  // while the device keeps its back surface and the frame drew over at most half of it.
  FrameBackground last_background_;
  std::vector<Rect> drawn_over_;
  bool last_frame_valid_ = false;
};

}  // namespace quenvale

#endif  // QUENVALE_SAVER_SAVER_H_
