// One run of a saver, in the order every program that runs one follows: the data file's sets
// listed and the settings read (Open), the saver built for its client area (Start), its pictures
// bound to a drawing device (Bind), the settings written at the end (Close). The Windows and Linux
// engines, `saverpack render` and the benchmarks all start a saver through it; what is left to
// each is its window, its events and its device.
#ifndef QUENVALE_SAVER_SESSION_H_
#define QUENVALE_SAVER_SESSION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "datafile/zip_file_settings.h"
#include "display/surface.h"
#include "saver/saver.h"
#include "settings/settings.h"
#include "settings/value_store.h"

namespace quenvale {

// The clock ticks once a second; the frame timer asks for a frame every 5 ms (frames then come
// as often as the device presents them).
constexpr int32_t kClockInterval = 1000;
constexpr int32_t kFrameInterval = 5;

// What a session tells the program that runs it.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  // A failure the user must hear of, in every mode: a preview's host keeps it out of the
  // window the preview lives in (Windows shows nothing, Linux writes standard error only).
  virtual void ReportFailure(const std::string& message) = 0;
};

class SaverSession {
 public:
  // `data`, `store`, `random` and `host` outlive the session.
  SaverSession(ZipFileSettings& data, ValueStore& store, SaverMode mode, RandomSource& random,
               SessionHost& host);
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
  // Hands the pictures to `device` and prepares them for it. After Start.
  void Bind(DrawDevice& device);
  // Writes the settings back, once, however often it is called; a failure is reported.
  void Close();

  bool Opened() const { return settings_ != nullptr; }
  bool Started() const { return saver_ != nullptr; }
  Saver& saver() { return *saver_; }
  Settings& settings() { return *settings_; }
  ZipFileSettings& data() { return data_; }

 private:
  ZipFileSettings& data_;
  ValueStore& store_;
  SaverMode mode_;
  RandomSource& random_;
  SessionHost& host_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<Saver> saver_;
  bool closed_ = false;
};

}  // namespace quenvale

#endif  // QUENVALE_SAVER_SESSION_H_
