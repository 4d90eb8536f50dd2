// saverpack render: frames of a saver drawn on the software surface, without a window, so that
// saver makers see their saver on any system and the tests can compare frames.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "display/software_surface.h"
#include "imaging/png_writer.h"
#include "saver/saver.h"
#include "saver/session.h"
#include "saverpack/saverpack.h"
#include "settings/memory_value_store.h"

namespace fs = std::filesystem;

namespace saverpack {

namespace {

constexpr int kFramesPerSecond = 60;

void ParseSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find_first_of("xX");
  int32_t w = 0, h = 0;
  if (x == std::string::npos || !quenvale::TryStrToInt(text.substr(0, x), &w) ||
      !quenvale::TryStrToInt(text.substr(x + 1), &h) || w < 1 || h < 1 || w > 16384 || h > 16384) {
    throw Failure("--size wants WIDTHxHEIGHT, each 1 to 16384, not \"" + text + "\"");
  }
  *width = w;
  *height = h;
}

int32_t PositiveOption(const Args& args, const std::string& name, int32_t def, int32_t max) {
  if (!args.Has(name)) return def;
  int32_t value = 0;
  if (!quenvale::TryStrToInt(args.Get(name), &value) || value < 0 || value > max) {
    throw Failure(name + " wants a number from 0 to " + std::to_string(max));
  }
  return value;
}

// A clock that starts at noon and runs with the frames, so that renders repeat exactly.
std::string SimulatedTime(int frame) {
  const int seconds = 12 * 3600 + frame / kFramesPerSecond;
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60);
  return text;
}

}  // namespace

// Keeps the session's failure, which render then reports as its own.
struct FailureHost : quenvale::SessionHost {
  void ReportFailure(const std::string& failure) override { message = failure; }
  std::string message;
};

int CommandRender(const Args& args) {
  if (args.positional.size() != 2) {
    throw Failure(
        "usage: saverpack render DATAFILE OUT_DIR [--size WxH] [--frames N] [--seed S] "
        "[--preview] [--set NAME] [--scr NAME.scr]");
  }
  const bool preview = args.Has("--preview");
  int32_t width = preview ? 152 : 1024, height = preview ? 112 : 768;
  if (args.Has("--size")) ParseSize(args.Get("--size"), &width, &height);
  const int32_t frames = PositiveOption(args, "--frames", 60, 100000);
  const int32_t seed = PositiveOption(args, "--seed", 1, INT32_MAX);
  const quenvale::SaverMode mode =
      preview ? quenvale::SaverMode::smPreview : quenvale::SaverMode::smSave;

  OpenedDataFile file(args.positional[0], ScrNameFor(args, args.positional[0]), mode);
  file.SeedRandom(static_cast<uint32_t>(seed));
  quenvale::ZipFileSettings& data = file.Data();

  // The saver's own defaults: no user's stored settings take part.
  quenvale::MemoryValueStore store;
  quenvale::DefaultRandom random(static_cast<uint64_t>(seed));
  FailureHost host;
  quenvale::SaverSession session(data, store, mode, random, host);
  // A default the settings text gets wrong names itself ("bounce nrImages: 'abc' is not ...").
  if (!session.Open()) throw Failure(file.Path() + ": " + host.message);
  quenvale::Saver& saver = session.Build();
  int frame = 0;
  saver.SetTimeText([&frame] { return SimulatedTime(frame); });
  if (!session.Start(width, height)) throw Failure(file.Path() + ": " + host.message);
  if (args.Has("--set")) {
    const int index = data.IndexOfSet(args.Get("--set"));
    if (index < 0) throw Failure("no image set named \"" + args.Get("--set") + "\"");
    data.SelectSet(index);
    try {
      saver.LoadSetPictures();
    } catch (const quenvale::PictureError& e) {
      throw Failure(file.Path() + ": " + e.what());
    }
  }

  quenvale::SoftwareDevice device(width, height);
  session.Bind(device);

  std::error_code ec;
  fs::create_directories(args.positional[1], ec);
  if (ec) throw Failure(args.positional[1] + ": " + ec.message());
  const int32_t set_change_frames =
      saver.SetChangeInterval() > 0
          ? static_cast<int32_t>(static_cast<int64_t>(saver.SetChangeInterval()) *
                                 kFramesPerSecond / 1000)
          : 0;
  // A long render says how far it is, every few seconds, on standard error.
  using Clock = std::chrono::steady_clock;
  constexpr auto kProgressEvery = std::chrono::seconds(2);
  Clock::time_point next_progress = Clock::now() + kProgressEvery;
  for (frame = 1; frame <= frames; ++frame) {
    if (Clock::now() >= next_progress) {
      std::fprintf(stderr, "saverpack: render: frame %d of %d\n", frame, frames);
      next_progress = Clock::now() + kProgressEvery;
    }
    if (frame % kFramesPerSecond == 0) saver.tClockTimer(true);
    if (set_change_frames > 0 && frame % set_change_frames == 0) saver.tSetChangeTimer();
    saver.FrameTimerTimer(device);
    char name[32];
    std::snprintf(name, sizeof(name), "frame-%05d.png", frame);
    WriteFileAtomically((fs::path(args.positional[1]) / name).string(),
                        quenvale::EncodePng(device.Screen(), quenvale::PngEffort::kFast));
  }
  const quenvale::ImageSet* set = data.CurrentSet();
  std::printf("%d frames of %dx%d%s, set \"%s\", seed %d, in %s\n", frames, width, height,
              preview ? " (preview)" : "", set != nullptr ? set->Name.c_str() : "", seed,
              args.positional[1].c_str());
  return 0;
}

}  // namespace saverpack
