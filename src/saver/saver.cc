#include "saver/saver.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace quenvale {

namespace {

// A picture pixel 0xAARRGGBB as a 24-bit colour 0x00BBGGRR.
int32_t ColorOfPixel(uint32_t pixel) {
  return static_cast<int32_t>(((pixel >> 16) & 0xFF) | (pixel & 0xFF00) | ((pixel & 0xFF) << 16));
}

}  // namespace

DefaultRandom::DefaultRandom()
    : engine_(static_cast<uint64_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count())) {}

int32_t DefaultRandom::Random(int32_t range) {
  if (range <= 0) return 0;
  return std::uniform_int_distribution<int32_t>(0, range - 1)(engine_);
}

double DefaultRandom::RandomReal() {
  // 53 random bits: uniform in [0, 1), never 1.
  return static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0);
}

std::string RunningTimeText(uint32_t seconds) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02u:%02u:%02u", (seconds % 86400) / 3600,
                (seconds % 3600) / 60, seconds % 60);
  return text;
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  std::ostringstream out;
  try {
    out.imbue(std::locale(""));
  } catch (const std::exception&) {
    // An unknown locale in the environment: the classic format still tells the time.
  }
  out << std::put_time(&local, "%X");
  return out.str();
}

void KeepWithinLimits(Settings& settings, DataFileHost& host) {
  for (const UserSetting& setting : kUserSettings) {
    if (!setting.saver_limits) continue;
    int32_t& value = settings.*setting.integer;
    if (value <= setting.max) continue;
    host.Notice(std::string(setting.section) + " " + setting.key + " " + std::to_string(value) +
                " is more than the saver can show; using " + std::to_string(setting.max));
    value = setting.max;
  }
}

Saver::Saver(ZipFileSettings& data_file, Settings& settings, SaverMode mode, RandomSource& random)
    : data_file_(data_file),
      settings_(settings),
      mode_(mode),
      random_(random),
      image_list_(2),
      time_text_(LocalTimeText) {
  image_list_.Items(kBackgroundItem).Transparent = false;
  image_list_.Items(kSpriteItem).Transparent = true;
}

void Saver::SetClientSize(int32_t width, int32_t height) {
  client_width_ = width;
  client_height_ = height;
}

void Saver::SetPlacementArea(int32_t width, int32_t height) {
  placement_width_ = width;
  placement_height_ = height;
}

void Saver::FormCreate(int32_t placement_width, int32_t placement_height, StartSet start_set) {
  SetPlacementArea(placement_width, placement_height);
  if (start_set == StartSet::kRandom) data_file_.SelectRandomSet();
  LoadSetPictures();
  running_seconds_ = 0;
  last_mouse_x_ = -1;
  last_mouse_y_ = -1;
  KeepWithinLimits(settings_, data_file_.Host());
  const int32_t count = std::max<int32_t>(settings_.NrImages, 0);
  sprites_.assign(count, Sprite());
  // The sprites placed so far do not move while the rest are placed: a grid of their corners
  // answers the overlap test without going through all of them.
  PlacementGrid grid(static_cast<float>(std::max(0, placement_width_ - SpriteWidth())),
                     static_cast<float>(std::max(0, placement_height_ - SpriteHeight())),
                     SpriteWidth());
  for (int32_t i = 0; i < count; ++i) PlaceSprite(i, &grid);
  tClockTimer(false);
}

int32_t Saver::SetChangeInterval() const {
  if (settings_.SetTime <= 0) return 0;
  const int64_t ms = static_cast<int64_t>(settings_.SetTime) * 1000;
  return ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

void Saver::LoadSetPictures() {
  const ImageSet* set = data_file_.CurrentSet();
  if (set == nullptr) return;
  // An entry that no format takes leaves the item with the picture it had.
  PictureItem& background = image_list_.Items(kBackgroundItem);
  if (!set->Backgrounds.empty() &&
      data_file_.LoadPicture(&background.GetPicture(), set->Backgrounds[0])) {
    background.PictureLoaded();
    // The background is kept at the size it is drawn, before its surface is built: a camera
    // photo costs the screen's memory, not its own, and a small picture stretched up is drawn
    // by a copy, not a stretch a frame. Not when it is the bouncing picture too, whose size is
    // the sprites'.
    if (!settings_.NoBouncingLogos) {
      const Size shown = BackgroundSize(background.LoadedWidth(), background.LoadedHeight(),
                                        client_width_, client_height_);
      background.ResampleForDisplay(shown.width, shown.height);
    }
  }
  background.Transparent = false;
  background.Restore();
  if (!settings_.NoBouncingLogos) {
    PictureItem& sprite = image_list_.Items(kSpriteItem);
    if (!set->Pictures.empty()) data_file_.LoadPicture(&sprite.GetPicture(), set->Pictures[0]);
    sprite.Transparent = true;
    const Picture& picture = sprite.GetPicture();
    if (picture.width > 0 && picture.height > 0) {
      sprite.SetTransparentColor(ColorOfPixel(picture.pixels[0]));
    }
    sprite.Restore();
    sprite_index_ = kSpriteItem;
  } else {
    sprite_index_ = kBackgroundItem;
  }
  background_index_ = kBackgroundItem;
}

int32_t Saver::SpriteWidth() { return image_list_.Items(sprite_index_).Width(); }
int32_t Saver::SpriteHeight() { return image_list_.Items(sprite_index_).Height(); }

void Saver::PlaceSprite(int32_t index, PlacementGrid* grid) {
  const int32_t width = SpriteWidth();
  const int32_t height = SpriteHeight();
  Sprite& sprite = sprites_.at(index);
  for (int attempts_left = 100;;) {
    bool overlap = false;
    // An area smaller than the sprite leaves no range: the sprite starts at 0 on that axis.
    const int32_t x = random_.Random(placement_width_ - width);
    const int32_t y = random_.Random(placement_height_ - height);
    sprite.Position = Vector(static_cast<float>(x), static_cast<float>(y));
    const double r1 = random_.RandomReal();
    const double r2 = random_.RandomReal();
    sprite.Velocity = Vector(RoundToFloat(r1 - 0.5), RoundToFloat(r2 - 0.5));
    if (settings_.FixedSpeed) Normalize(sprite.Velocity);
    if (sprite.Velocity.X == 0) sprite.Velocity.X = 1.0f;
    if (sprite.Velocity.Y == 0) sprite.Velocity.Y = 1.0f;
    if (grid != nullptr) {
      overlap = grid->Overlaps(sprite.Position);
    } else {
      for (int32_t j = 0; j < index && !overlap; ++j) {
        overlap = width >= Distance(sprite.Position, sprites_[j].Position);
      }
    }
    --attempts_left;
    if (!overlap || attempts_left <= 0) break;
  }
  if (grid != nullptr) grid->Add(sprite.Position);
}

Saver::Size Saver::BackgroundSize(int32_t pw, int32_t ph, int32_t dw, int32_t dh) const {
  int32_t width = pw, height = ph;
  const bool fits = ph <= dh && pw <= dw;
  if (settings_.StretchSmallImages || !fits) {
    if (pw > 0 && ph > 0 && dh > 0) {
      const float screen_ratio = RoundToFloat(static_cast<double>(dw) / dh);
      const float picture_ratio = RoundToFloat(static_cast<double>(pw) / ph);
      const float scale = picture_ratio < screen_ratio ? RoundToFloat(static_cast<double>(dh) / ph)
                                                       : RoundToFloat(static_cast<double>(dw) / pw);
      width = BankersRound(static_cast<double>(pw) * scale);
      height = BankersRound(static_cast<double>(ph) * scale);
    }
  }
  return {width, height};
}

namespace {

// Fills `area` less `hole`: up to four bands, each cut to the surface by FillRect.
void FillAround(Surface& surface, const Rect& area, const Rect& hole, uint32_t value) {
  const int32_t top = std::max(area.Top, hole.Top), bottom = std::min(area.Bottom, hole.Bottom);
  surface.FillRect(Rect{area.Left, area.Top, area.Right, std::min(area.Bottom, hole.Top)}, value);
  surface.FillRect(Rect{area.Left, std::max(area.Top, hole.Bottom), area.Right, area.Bottom},
                   value);
  if (top >= bottom) return;
  surface.FillRect(Rect{area.Left, top, std::min(area.Right, hole.Left), bottom}, value);
  surface.FillRect(Rect{std::max(area.Left, hole.Right), top, area.Right, bottom}, value);
}

int64_t Area(const Rect& r) { return r.Empty() ? 0 : static_cast<int64_t>(r.Width()) * r.Height(); }

}  // namespace

Saver::FrameBackground Saver::BackgroundFor(DrawDevice& device, Surface& surface) {
  FrameBackground b;
  b.kept_surface = device.KeptBackSurface();
  b.surface = &surface;
  b.width = surface.Width();
  b.height = surface.Height();
  b.color = surface.MatchDeviceColor(settings_.BackgroundColor);
  b.shown = settings_.ShowBackground;
  if (b.shown) {
    PictureItem& item = image_list_.Items(background_index_);
    const Size shown = BackgroundSize(item.LoadedWidth(), item.LoadedHeight(), b.width, b.height);
    b.dest.Left = (b.width - shown.width) / 2;
    b.dest.Top = (b.height - shown.height) / 2;
    b.dest.Right = b.dest.Left + shown.width;
    b.dest.Bottom = b.dest.Top + shown.height;
    b.index = background_index_;
    b.version = item.Version();
    b.transparent = item.Transparent;
  }
  return b;
}

void Saver::DrawBackground(Surface& surface, const FrameBackground& b) {
  if (!b.shown) {
    surface.Fill(b.color);
    return;
  }
  PictureItem& item = image_list_.Items(background_index_);
  if (b.dest.Empty() || !item.StretchCoversRect(0)) {
    surface.Fill(b.color);
  } else {
    // The background sets every pixel it covers: the colour only shows in the bands around it.
    FillAround(surface, Rect{0, 0, b.width, b.height}, b.dest, b.color);
  }
  item.StretchDraw(surface, b.dest, 0);
}

bool Saver::RedrawBackground(Surface& surface, const FrameBackground& b,
                             const std::vector<Rect>& parts) {
  const Rect whole{0, 0, b.width, b.height};
  PictureItem& item = image_list_.Items(background_index_);
  const bool covers = b.shown && !b.dest.Empty() && item.StretchCoversRect(0);
  for (const Rect& part : parts) {
    const Rect r = Intersection(part, whole);
    if (r.Empty()) continue;
    if (covers) {
      FillAround(surface, r, b.dest, b.color);
    } else {
      surface.FillRect(r, b.color);
    }
    if (b.shown && !b.dest.Empty() && !item.RedrawPart(surface, b.dest, r, 0)) return false;
  }
  return true;
}

Font Saver::PreviewScaled(const Font& font) const {
  Font scaled = font;
  if (Preview()) scaled.SetSize(BankersRound(font.Size() / kPreviewScale));
  return scaled;
}

void Saver::DrawOverlays(Surface& surface) {
  Canvas& canvas = surface.GetCanvas();
  canvas.TakeChangedRect();  // what happened before this frame is not this frame's text
  if (settings_.Clock > 0) {
    Font font = PreviewScaled(settings_.ClockFont.Font);
    canvas.SetFont(font);
    const int32_t x = client_width_ - canvas.TextWidth(clock_text_) - 2;
    font.Color = 0;
    canvas.SetFont(font);
    canvas.TextOut(x + 2, 2, clock_text_);
    font.Color = 0xFFFFFF;
    canvas.SetFont(font);
    canvas.TextOut(x, 0, clock_text_);
  }
  if (settings_.Filename == 0) {
    const ImageSet* set = data_file_.CurrentSet();
    const std::string name = set != nullptr ? set->Name : std::string();
    Font font = PreviewScaled(settings_.FilenameFont.Font);
    const int32_t own_color = font.Color;
    font.Color = 0;
    canvas.SetFont(font);
    canvas.TextOut(1, 1, name);
    font.Color = own_color;
    canvas.SetFont(font);
    canvas.TextOut(0, 0, name);
  }
  const Rect text = canvas.TakeChangedRect();
  if (!text.Empty()) drawn_over_.push_back(text);
  canvas.Release();
}

void Saver::FrameTimerTimer(DrawDevice& device) { FrameSlice(device, Clock::time_point::max()); }

bool Saver::FrameSlice(DrawDevice& device, Clock::time_point deadline) {
  if (steps_left_ == 0) {
    // No surface, no frame: the sprites stand still.
    if (!device.CanDraw()) return true;
    const int32_t steps = FrameSteps(settings_.Speed, Preview());
    steps_left_ = steps >= 0 ? static_cast<int64_t>(steps) + 1 : 0;
  }
  const int32_t count =
      std::min<int32_t>(settings_.NrImages, static_cast<int32_t>(sprites_.size()));
  const MotionBounds bounds{client_width_, client_height_, SpriteWidth(), SpriteHeight()};
  // The clock is read every few steps only: a step of a few sprites costs less than reading it.
  constexpr int kStepsPerLook = 8;
  for (int look = kStepsPerLook; steps_left_ > 0; --steps_left_) {
    if (--look == 0) {
      look = kStepsPerLook;
      if (Clock::now() >= deadline) return false;
    }
    MotionStep(sprites_, count, bounds, settings_.BounceImages);
  }
  // The picture comes after the motion; nothing the background reads changes in between.
  if (!device.CanDraw()) return true;
  Surface& surface = device.BackSurface();
  const FrameBackground background = BackgroundFor(device, surface);
  PictureItem& sprite = image_list_.Items(sprite_index_);
  const int32_t sprite_width = sprite.Width(), sprite_height = sprite.Height();
  const Rect whole{0, 0, background.width, background.height};
  int64_t area = 0;
  places_.clear();
  sprite_rects_.clear();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x = BankersRound(sprites_[i].Position.X);
    const int32_t y = BankersRound(sprites_[i].Position.Y);
    places_.emplace_back(x, y);
    const Rect at{x, y,
                  static_cast<int32_t>(std::min<int64_t>(int64_t{x} + sprite_width, INT32_MAX)),
                  static_cast<int32_t>(std::min<int64_t>(int64_t{y} + sprite_height, INT32_MAX))};
    const Rect on_surface = Intersection(at, whole);
    if (on_surface.Empty()) continue;
    area += Area(on_surface);
    // Past half the surface a whole background costs less than the parts.
    if (area <= Area(whole) / 2) sprite_rects_.push_back(on_surface);
  }
  // Sprites whose area is more than the surface's hide most of the background: where the
  // surface can draw behind what it has, they come first, and the background only fills what
  // they left.
  const bool behind = area > Area(whole) && surface.BeginBehind();
  if (behind) sprite.DrawEach(surface, places_, 0);
  // Where the surface still holds the last frame over the same background, only what that
  // frame drew over it is put back: the rest is the background already.
  const bool kept =
      background.kept_surface != 0 && last_frame_valid_ && background.SameAs(last_background_);
  last_frame_valid_ = false;
  if (!kept || !RedrawBackground(surface, background, drawn_over_)) {
    DrawBackground(surface, background);
  }
  if (behind) {
    surface.EndBehind();
  } else {
    sprite.DrawEach(surface, places_, 0);
  }
  drawn_over_.swap(sprite_rects_);
  DrawOverlays(surface);
  last_background_ = background;
  last_frame_valid_ = background.kept_surface != 0 && area <= Area(whole) / 2;
  device.Flip();
  return true;
}

void Saver::tClockTimer(bool from_clock) {
  if (from_clock) ++running_seconds_;
  if (settings_.Clock <= 0) return;
  clock_text_ = settings_.Clock == 1 ? time_text_() : RunningTimeText(running_seconds_);
}

void Saver::PictureAdded(int32_t count) {
  if (count < 1) return;
  sprites_.resize(static_cast<size_t>(count));
  PlaceSprite(count - 1);
}

void Saver::tSetChangeTimer() {
  const int32_t count = static_cast<int32_t>(data_file_.Sets().size());
  if (count < 2) return;
  int32_t index;
  do {
    index = random_.Random(count);
  } while (index == data_file_.CurrentSetIndex());
  data_file_.SelectSet(index);
  LoadSetPictures();
}

bool Saver::FormKeyDown(uint16_t key) {
  Font& clock_font = settings_.ClockFont.Font;
  Font& filename_font = settings_.FilenameFont.Font;
  switch (key) {
    // The left arrow steps forward through the sets and the right arrow back.
    case kVkLeft:
    case kVkNumpad4:
      data_file_.SelectSet(data_file_.CurrentSetIndex() + 1);
      LoadSetPictures();
      return false;
    case kVkRight:
    case kVkNumpad6:
      data_file_.SelectSet(data_file_.CurrentSetIndex() - 1);
      LoadSetPictures();
      return false;
    case kVkUp:
    case kVkNumpad8:
      if (settings_.Speed < kMaxSpeed) ++settings_.Speed;
      return false;
    case kVkDown:
    case kVkNumpad2:
      if (settings_.Speed > 1) --settings_.Speed;
      return false;
    case kVkAdd:
      if (settings_.NrImages >= kMaxSprites) return false;
      ++settings_.NrImages;
      PictureAdded(settings_.NrImages);
      return false;
    case kVkSubtract:
      if (settings_.NrImages >= 2) --settings_.NrImages;
      return false;
    case kVkMultiply:
      clock_font.SetSize(clock_font.Size() + 1);
      return false;
    case kVkDivide:
      if (clock_font.Size() > 0) clock_font.SetSize(clock_font.Size() - 1);
      return false;
    case kVkNumpad0:
      filename_font.SetSize(filename_font.Size() + 1);
      return false;
    case kVkDecimal:
      if (filename_font.Size() > 0) filename_font.SetSize(filename_font.Size() - 1);
      return false;
    case kVkNumpad5:
      settings_.Clock = settings_.Clock + 1 > 2 ? 0 : settings_.Clock + 1;
      tClockTimer(false);
      return false;
    case kVkNumpad1:
      settings_.Filename = settings_.Filename + 1 > 1 ? 0 : settings_.Filename + 1;
      return false;
    case kVkNumpad7:
      settings_.ShowBackground = !settings_.ShowBackground;
      return false;
    case kVkNumpad9:
      settings_.BounceImages = !settings_.BounceImages;
      return false;
    default:
      return true;
  }
}

bool Saver::IsTableKey(uint16_t key) {
  switch (key) {
    case kVkLeft:
    case kVkNumpad4:
    case kVkRight:
    case kVkNumpad6:
    case kVkUp:
    case kVkNumpad8:
    case kVkDown:
    case kVkNumpad2:
    case kVkAdd:
    case kVkSubtract:
    case kVkMultiply:
    case kVkDivide:
    case kVkNumpad0:
    case kVkDecimal:
    case kVkNumpad5:
    case kVkNumpad1:
    case kVkNumpad7:
    case kVkNumpad9:
      return true;
    default:
      return false;
  }
}

bool Saver::FormMouseMove(int32_t x, int32_t y) {
  if (last_mouse_x_ == -1 && last_mouse_y_ == -1) {
    last_mouse_x_ = x;
    last_mouse_y_ = y;
    return false;
  }
  if (std::abs(static_cast<int64_t>(x) - last_mouse_x_) > 2 &&
      std::abs(static_cast<int64_t>(y) - last_mouse_y_) > 2) {
    last_mouse_x_ = x;
    last_mouse_y_ = y;
    return true;
  }
  return false;
}

}  // namespace quenvale
