#include "saver/session.h"

#include <algorithm>
#include <exception>

namespace quenvale {

SaverSession::SaverSession(ZipFileSettings& data, ValueStore& store, SaverMode mode,
                           RandomSource& random, SessionHost& host)
    : data_(data), store_(store), mode_(mode), random_(random), host_(host) {}

SaverSession::SaverSession(SaverSession& lead, SessionHost& host)
    : data_(lead.data_),
      store_(lead.store_),
      mode_(lead.mode_),
      random_(lead.random_),
      host_(host),
      lead_(&lead) {
  lead.followers_.push_back(this);
}

SaverSession::~SaverSession() {
  if (lead_ != nullptr) {
    auto& followers = lead_->followers_;
    followers.erase(std::remove(followers.begin(), followers.end(), this), followers.end());
  }
  for (SaverSession* follower : followers_) follower->lead_ = nullptr;
}

bool SaverSession::Open() {
  if (lead_ != nullptr) {
    // The lead has listed the sets and read the settings.
    if (!lead_->Opened() || data_.Sets().empty()) return false;
    settings_ = lead_->settings_;
    opened_ = true;
    return true;
  }
  data_.ListSets();
  try {
    own_settings_ = std::make_unique<Settings>(data_, store_);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  settings_ = own_settings_.get();
  opened_ = true;
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
    saver_->FormCreate(width, height,
                       lead_ != nullptr ? Saver::StartSet::kCurrent : Saver::StartSet::kRandom);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  started_ = true;
  shown_set_ = data_.CurrentSetIndex();
  shown_images_ = settings_->NrImages;
  shown_clock_ = settings_->Clock;
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
  // The lead alone changes the set; the others show what it shows.
  set_change_interval_ = lead_ == nullptr ? saver_->SetChangeInterval() : 0;
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

bool SaverSession::DeskFrameUnfinished() const {
  const SaverSession& lead = lead_ != nullptr ? *lead_ : *this;
  if (lead.FrameUnfinished()) return true;
  return std::any_of(lead.followers_.begin(), lead.followers_.end(),
                     [](const SaverSession* follower) { return follower->FrameUnfinished(); });
}

void SaverSession::Follow() {
  if (lead_ == nullptr) return;
  try {
    if (data_.CurrentSetIndex() != shown_set_) {
      shown_set_ = data_.CurrentSetIndex();
      saver_->LoadSetPictures();
    }
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
  }
  // Each picture the lead's "+" added, placed as it placed its own.
  for (int32_t count = shown_images_ + 1; count <= settings_->NrImages; ++count) {
    saver_->PictureAdded(count);
  }
  shown_images_ = settings_->NrImages;
  if (settings_->Clock != shown_clock_) {
    shown_clock_ = settings_->Clock;
    saver_->tClockTimer(false);
  }
}

uint32_t SaverSession::Run(uint32_t now) {
  if (!Running() || !begun_) return FrameTimer::kNever;
  if (FrameUnfinished()) {
    RunSlice();
    return 0;
  }
  Follow();
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
  if (resize_waiting_) ApplyResize();
  if (clock_text_waiting_) TimeFormatChanged();
  KeysAfterFrame();
}

void SaverSession::KeysAfterFrame() {
  // The keys wait for the frames of every monitor, as all of them read what the keys change;
  // then they come in the order they came.
  SaverSession& lead = lead_ != nullptr ? *lead_ : *this;
  while (lead.Running() && !lead.waiting_keys_.empty() && !DeskFrameUnfinished()) {
    const uint16_t key = lead.waiting_keys_.front();
    lead.waiting_keys_.pop_front();
    lead.KeyDown(key);
  }
}

bool SaverSession::KeyDown(uint16_t key) {
  if (lead_ != nullptr) return Running() && lead_->KeyDown(key);
  if (!Running()) return false;
  if (DeskFrameUnfinished() && Saver::IsTableKey(key)) {
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

void SaverSession::TimeFormatChanged() {
  if (!Running()) return;
  clock_text_waiting_ = FrameUnfinished();
  if (!clock_text_waiting_) saver_->tClockTimer(false);
}

void SaverSession::Close() {
  if (closed_ || !opened_) return;
  closed_ = true;
  frame_timer_.SetEnabled(false);
  waiting_keys_.clear();
  resize_waiting_ = false;
  if (own_settings_ == nullptr) return;
  try {
    own_settings_->Close();
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
  }
}

}  // namespace quenvale
