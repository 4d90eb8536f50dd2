#include "saver/session.h"

#include <algorithm>
#include <exception>

namespace quenvale {

SaverSession::SaverSession(ZipFileSettings& data, ValueStore& store, SaverMode mode,
                           RandomSource& random, SessionHost& host)
    : data_(data), store_(store), mode_(mode), random_(random), host_(host) {}

SaverSession::~SaverSession() = default;

bool SaverSession::Open() {
  data_.ListSets();
  try {
    settings_ = std::make_unique<Settings>(data_, store_);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  if (data_.Sets().empty()) {
    host_.ReportFailure("The data file holds no pictures to show.");
    return false;
  }
  return true;
}

Saver& SaverSession::Build() {
  if (saver_ == nullptr) saver_ = std::make_unique<Saver>(data_, *settings_, mode_, random_);
  return *saver_;
}

bool SaverSession::Start(int32_t width, int32_t height) {
  Build();
  saver_->SetClientSize(width, height);
  try {
    saver_->FormCreate(width, height);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  started_ = true;
  return true;
}

void SaverSession::Bind(DrawDevice& device) {
  saver_->ImageList().Initialized(device);
  saver_->ImageList().Restored();
  device_ = &device;
  frame_timer_.SetInterval(kFrameInterval);
  frame_timer_.SetEnabled(true);
}

void SaverSession::SurfaceRestored() {
  if (device_ != nullptr) saver_->ImageList().Restored();
}

void SaverSession::Unbind() {
  frame_timer_.SetEnabled(false);
  if (device_ == nullptr) return;
  saver_->ImageList().Finalized();
  device_ = nullptr;
}

void SaverSession::Begin(uint32_t now) {
  if (!Running()) return;
  begun_ = true;
  clock_due_ = now + static_cast<uint32_t>(kClockInterval);
  set_change_interval_ = saver_->SetChangeInterval();
  set_change_due_ = now + static_cast<uint32_t>(set_change_interval_);
}

namespace {

// Milliseconds from `now` until `due`, 0 once it has passed (wrap-around arithmetic).
uint32_t Until(uint32_t now, uint32_t due) {
  const int32_t left = static_cast<int32_t>(due - now);
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// The next time of a timer that fired at `now`: one interval on, or one interval from now if
// it has fallen a whole interval behind (a timer that fired twice meanwhile is due once).
uint32_t NextDue(uint32_t due, uint32_t now, int32_t interval) {
  due += static_cast<uint32_t>(interval);
  return Until(now, due) == 0 ? now + static_cast<uint32_t>(interval) : due;
}

}  // namespace

bool SaverSession::FrameUnfinished() const {
  return device_ != nullptr && frame_timer_.Enabled() && saver_->FrameUnfinished();
}

uint32_t SaverSession::Run(uint32_t now) {
  if (!Running() || !begun_) return FrameTimer::kNever;
  if (FrameUnfinished()) {
    RunSlice();
    return 0;
  }
  if (RunTimers(now)) return 0;
  uint32_t wait = Until(now, clock_due_);
  if (set_change_interval_ > 0) wait = std::min(wait, Until(now, set_change_due_));
  if (device_ != nullptr && frame_timer_.Enabled()) {
    const uint32_t hold = host_.MillisecondsUntilFrame();
    if (hold == 0 && frame_timer_.Idle(now, nullptr)) {
      RunSlice();
      return 0;
    }
    wait = std::min(wait, std::max(hold, frame_timer_.MillisecondsUntilDue(now)));
  }
  return wait;
}

bool SaverSession::RunTimers(uint32_t now) {
  if (!Running() || !begun_) return false;
  bool ran = false;
  if (Until(now, clock_due_) == 0) {
    ran = true;
    clock_due_ = NextDue(clock_due_, now, kClockInterval);
    saver_->tClockTimer(true);
    host_.ClockTicked();
    if (!Running()) return true;
  }
  if (set_change_interval_ > 0 && Until(now, set_change_due_) == 0) {
    ran = true;
    set_change_due_ = NextDue(set_change_due_, now, set_change_interval_);
    try {
      saver_->tSetChangeTimer();
    } catch (const std::exception& e) {
      host_.ReportFailure(e.what());
    }
  }
  return ran;
}

void SaverSession::DrawFrame() {
  if (!Running() || device_ == nullptr) return;
  try {
    saver_->FrameTimerTimer(*device_);
  } catch (const std::exception& e) {
    StopFrames(e.what());
    return;
  }
  FrameEnded();
}

void SaverSession::RunSlice() {
  try {
    if (!saver_->FrameSlice(*device_, Saver::Clock::now() + kFrameSlice)) return;
  } catch (const std::exception& e) {
    StopFrames(e.what());
    return;
  }
  FrameEnded();
}

void SaverSession::StopFrames(const std::string& why) {
  // One report, not one per frame: the picture stays as it is until the saver ends.
  frame_timer_.SetEnabled(false);
  host_.ReportFailure(why);
}

void SaverSession::FrameEnded() {
  host_.FrameFinished();
  // What waited for the frame, in the order it came.
  while (Running() && !waiting_keys_.empty()) {
    const uint16_t key = waiting_keys_.front();
    waiting_keys_.pop_front();
    KeyDown(key);
  }
  if (resize_waiting_) ApplyResize();
}

bool SaverSession::KeyDown(uint16_t key) {
  if (!Running()) return false;
  if (FrameUnfinished() && Saver::IsTableKey(key)) {
    waiting_keys_.push_back(key);
    return false;
  }
  try {
    return saver_->FormKeyDown(key);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
}

bool SaverSession::MouseMove(int32_t x, int32_t y) {
  return Running() && saver_->FormMouseMove(x, y);
}

void SaverSession::Resize(int32_t width, int32_t height) {
  if (!Running()) return;
  resize_waiting_ = true;
  resize_width_ = width;
  resize_height_ = height;
  if (!FrameUnfinished()) ApplyResize();
}

void SaverSession::ApplyResize() {
  resize_waiting_ = false;
  int32_t width = resize_width_, height = resize_height_;
  if (!host_.ResizeDevice(&width, &height)) {
    frame_timer_.SetEnabled(false);
    return;
  }
  saver_->SetClientSize(width, height);
  // A preview places new sprites in the window as it is; the saver in the whole screen.
  if (mode_ == SaverMode::smPreview) saver_->SetPlacementArea(width, height);
}

void SaverSession::Close() {
  if (closed_ || settings_ == nullptr) return;
  closed_ = true;
  frame_timer_.SetEnabled(false);
  waiting_keys_.clear();
  resize_waiting_ = false;
  try {
    settings_->Close();
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
  }
}

}  // namespace quenvale
