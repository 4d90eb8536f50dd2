// One run of a saver, in the order every program that runs one follows: the data file's sets
// listed and the settings read (Open), the saver built for its client area (Start), its pictures
// bound to a drawing device (Bind), then its life (Begin, and Run over and over: the clock's
// tick, the set change, the frames; input and resizes in between), and the settings written at
// the end (Close). The Windows and Linux engines, `saverpack render` and the benchmarks all run a
// saver through it; what is left to each is its window, its events, its device and its loop.
#ifndef QUENVALE_SAVER_SESSION_H_
#define QUENVALE_SAVER_SESSION_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "datafile/zip_file_settings.h"
#include "display/frame_timer.h"
#include "display/surface.h"
#include "saver/saver.h"
#include "settings/settings.h"
#include "settings/value_store.h"

namespace quenvale {

// The clock ticks once a second; the frame timer asks for a frame every 5 ms (frames then come
// as often as the device presents them).
constexpr int32_t kClockInterval = 1000;
constexpr int32_t kFrameInterval = 5;
// A frame with many motion steps runs in slices this long, with the window's events between
// them.
constexpr auto kFrameSlice = std::chrono::milliseconds(10);

// What a session tells the program that runs it.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  // A failure the user must hear of, in every mode: a preview's host keeps it out of the
  // window the preview lives in (Windows shows nothing, Linux writes standard error only).
  virtual void ReportFailure(const std::string& message) = 0;
  // How long the device wants the next frame held back: a present that does not wait for the
  // vertical blank is held to the display's pace this way.
  virtual uint32_t MillisecondsUntilFrame() { return 0; }
  // The window's size changed and no frame is under way: the device follows it, and *width,
  // *height become the size it draws at. False, reported, when the device cannot follow; the
  // frames stop then.
  virtual bool ResizeDevice(int32_t* width, int32_t* height) {
    (void)width;
    (void)height;
    return true;
  }
  // The clock has ticked: the once-a-second work of the window itself.
  virtual void ClockTicked() {}
  // A frame has been presented.
  virtual void FrameFinished() {}
};

class SaverSession {
 public:
  // `data`, `store`, `random` and `host` outlive the session.
  SaverSession(ZipFileSettings& data, ValueStore& store, SaverMode mode, RandomSource& random,
               SessionHost& host);
  // A session for a further monitor of the same desk: `lead`'s data file and settings, its own
  // sprites and pictures at its own size. It shows the set the lead shows and follows what the
  // lead's keys and set changes do; its keys go to the lead; the lead alone writes the
  // settings. `lead` is open and outlives it.
  SaverSession(SaverSession& lead, SessionHost& host);
  ~SaverSession();
  SaverSession(const SaverSession&) = delete;
  SaverSession& operator=(const SaverSession&) = delete;

  // Lists the image sets and reads the settings; false, reported, when the settings cannot be
  // read or the data file holds no pictures.
  bool Open();
  // Builds the saver (once), so that what it needs before it starts can be set on it, such as
  // where its time text comes from. After Open.
  Saver& Build();
  // Builds the saver if that is not done yet, sizes it, its new sprites placed within
  // width x height, and loads the first set; false, reported, when that fails. After Open.
  bool Start(int32_t width, int32_t height);
  // Hands the pictures to `device` and prepares them for it, and lets the frames run. After
  // Start. Without a device the saver still runs its clock and its set changes.
  void Bind(DrawDevice& device);
  // The device's surfaces were lost and are back: the pictures are put on them again.
  void SurfaceRestored();
  // Takes the pictures back from the device, which is about to go; no frames from here on.
  void Unbind();

  // Starts the clock's tick and the set change, each one interval after `now`. Times are the
  // front end's millisecond counter (wrapping as timeGetTime and SDL_GetTicks do); render's
  // are simulated. After Start.
  void Begin(uint32_t now);
  // Runs the next thing due at `now`: the next slice of an unfinished frame, else the clock's
  // tick and the set change when due, else a frame when the frame timer is due. Returns how many
  // milliseconds may pass before it wants to run again (0: at once; FrameTimer::kNever: not
  // until something happens).
  uint32_t Run(uint32_t now);
  // The clock's tick and the set change, each once when due at `now`; true when one ran.
  bool RunTimers(uint32_t now);
  // One whole frame at once, whatever the frame timer says (render and the benchmarks).
  void DrawFrame();

  // Input. Each returns true when the saver should end. A key of the key table waits while a
  // frame is unfinished, as it changes what the frame reads; any other key is answered at once.
  bool KeyDown(uint16_t key);
  bool MouseMove(int32_t x, int32_t y);
  // The window's client size is now width x height; applied when no frame is under way. In
  // preview new sprites are placed within the window as it is.
  void Resize(int32_t width, int32_t height);

  // The user's time format changed: the clock's text is made again, once no frame is under way.
  void TimeFormatChanged();

  // Writes the settings back, once, however often it is called; a failure is reported. No
  // frames, timers or input from then on.
  void Close();

  bool Opened() const { return opened_; }
  bool Started() const { return started_; }
  bool Closed() const { return closed_; }
  // Started and not closed: input, timers and frames are taken.
  bool Running() const { return started_ && !closed_; }
  // A frame's motion steps are under way, in slices (on any monitor of the desk, for the keys).
  bool FrameUnfinished() const;
  bool DeskFrameUnfinished() const;
  // Frames per second over the last whole second of frames; 0 until then.
  int32_t FrameRate() const { return frame_timer_.FrameRate(); }
  Saver& saver() { return *saver_; }
  Settings& settings() { return *settings_; }
  ZipFileSettings& data() { return data_; }

 private:
  void RunSlice();
  void FrameEnded();
  void ApplyResize();
  void StopFrames(const std::string& why);
  // A further monitor's session takes on what the lead's keys and set changes did.
  void Follow();
  // The lead's waiting keys, once no frame of the desk is under way.
  void KeysAfterFrame();

  ZipFileSettings& data_;
  ValueStore& store_;
  SaverMode mode_;
  RandomSource& random_;
  SessionHost& host_;
  std::unique_ptr<Settings> own_settings_;  // a lead's; a further monitor's session has none
  Settings* settings_ = nullptr;
  std::unique_ptr<Saver> saver_;
  bool opened_ = false;
  bool started_ = false;
  bool closed_ = false;

  // A further monitor's session: its lead, and what of the lead's changes it shows.
  SaverSession* lead_ = nullptr;
  std::vector<SaverSession*> followers_;
  int shown_set_ = -1;
  int32_t shown_images_ = 0;
  int32_t shown_clock_ = 0;

  DrawDevice* device_ = nullptr;
  FrameTimer frame_timer_;
  bool begun_ = false;
  uint32_t clock_due_ = 0;
  int32_t set_change_interval_ = 0;
  uint32_t set_change_due_ = 0;
  // What came while a frame was unfinished and waits for its end.
  std::deque<uint16_t> waiting_keys_;
  bool resize_waiting_ = false;
  bool clock_text_waiting_ = false;
  int32_t resize_width_ = 0;
  int32_t resize_height_ = 0;
};

}  // namespace quenvale

#endif  // QUENVALE_SAVER_SESSION_H_
