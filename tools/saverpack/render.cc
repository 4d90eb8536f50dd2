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
#ifdef QUENVALE_WEBP
#include "saverpack/webp_animation.h"
#endif

namespace fs = std::filesystem;

namespace saverpack {

namespace {

constexpr int kFramesPerSecond = 60;
// What an animated WebP keeps of them unless told (--fps). Sprites that move a little every frame
// cost about the same bytes a frame however far they move, so the frame rate sets the size: the
// demo at 640x480 for 10 seconds is 3.2 MB at 60, 2.1 MB at 30, 1.5 MB at 20 and 1.2 MB at 15.
constexpr int kWebPFramesPerSecond = 15;

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

// When frame `frame` is drawn, in whole milliseconds from the start: the session's timers run
// on this time, so that the clock ticks every 60th frame and the set changes on the frame of
// its second.
uint32_t FrameTime(int frame) {
  return static_cast<uint32_t>(static_cast<int64_t>(frame) * 1000 / kFramesPerSecond);
}

// A clock that starts at noon and runs with the frames, so that renders repeat exactly.
std::string SimulatedTime(int frame) {
  const int seconds = 12 * 3600 + frame / kFramesPerSecond;
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60);
  return text;
}

#ifdef QUENVALE_WEBP
// When frame `index` (from 0) is shown: whole milliseconds, rounded, so that the frames of a
// render last exactly as long as the render.
int FrameTimeMs(int64_t index) {
  return static_cast<int>((index * 1000 + kFramesPerSecond / 2) / kFramesPerSecond);
}

// Whether an animation of `fps` frames to a second keeps frame `index`: the first frame of each
// 1/fps second, so that it keeps the saver's pace however few frames it shows.
bool KeepsFrame(int64_t index, int fps) {
  return index == 0 || index * fps / kFramesPerSecond != (index - 1) * fps / kFramesPerSecond;
}
#endif

// Refuses an output path whose folder is missing before the frames are drawn, not after.
void CheckOutputFile(const std::string& path) {
  std::error_code ec;
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty() && !fs::is_directory(parent, ec)) {
    throw Failure(path + ": no folder " + parent.string());
  }
  if (fs::is_directory(path, ec)) throw Failure(path + ": is a folder");
}

}  // namespace

// Keeps the session's failure, which render then reports as its own.
struct FailureHost : quenvale::SessionHost {
  void ReportFailure(const std::string& failure) override { message = failure; }
  std::string message;
};

int CommandRender(const Args& args) {
  const bool webp = args.Has("--webp");
  if (args.positional.size() != 2 && !(webp && args.positional.size() == 1)) {
    throw Failure(
        "usage: saverpack render DATAFILE [OUT_DIR] [--webp OUT.webp [--fps F]] [--size WxH] "
        "[--frames N] [--seed S] [--preview] [--set NAME] [--scr NAME.scr]");
  }
#ifndef QUENVALE_WEBP
  if (webp) throw Failure("--webp: this saverpack was built without WebP support");
#endif
  if (args.Has("--fps") && !webp) throw Failure("--fps goes with --webp");
  const std::string out_dir = args.positional.size() > 1 ? args.positional[1] : "";
  const std::string webp_path = args.Get("--webp");
  int32_t fps = kWebPFramesPerSecond;
  if (args.Has("--fps") &&
      (!quenvale::TryStrToInt(args.Get("--fps"), &fps) || fps < 1 || fps > kFramesPerSecond)) {
    throw Failure("--fps wants a number from 1 to " + std::to_string(kFramesPerSecond));
  }
  if (webp) CheckOutputFile(webp_path);
  const bool preview = args.Has("--preview");
  int32_t width = preview ? 152 : 1024, height = preview ? 112 : 768;
  if (args.Has("--size")) ParseSize(args.Get("--size"), &width, &height);
  const int32_t frames = PositiveOption(args, "--frames", 60, 100000);
  if (webp && frames < 1) throw Failure("--webp needs at least one frame");
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
    const int index = data.IndexOfSet(FromTerminal(args.Get("--set")));
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
  session.Begin(FrameTime(0));

  if (!out_dir.empty()) {
    std::error_code ec;
    fs::create_directories(out_dir, ec);
    if (ec) throw Failure(out_dir + ": " + ec.message());
  }
#ifdef QUENVALE_WEBP
  // The encoder's failures, named after the file they were for.
  auto webp_step = [&webp_path](auto&& step) {
    try {
      return step();
    } catch (const Failure& failure) {
      throw Failure(webp_path + ": " + failure.what(), failure.status);
    }
  };
  std::unique_ptr<WebPAnimation> animation;
  if (webp) {
    animation = webp_step(
        [&] { return std::make_unique<WebPAnimation>(width, height, WebPAnimationOptions()); });
  }
#endif
  // A long render says how far it is, every few seconds, on standard error.
  using Clock = std::chrono::steady_clock;
  constexpr auto kProgressEvery = std::chrono::seconds(2);
  const Clock::time_point start = Clock::now();
  Clock::time_point next_progress = start + kProgressEvery;
  for (frame = 1; frame <= frames; ++frame) {
    if (Clock::now() >= next_progress) {
      std::fprintf(stderr, "saverpack: render: frame %d of %d\n", frame, frames);
      next_progress = Clock::now() + kProgressEvery;
    }
    session.RunTimers(FrameTime(frame));
    session.DrawFrame();
    if (!host.message.empty()) throw Failure(file.Path() + ": " + host.message);
    if (!out_dir.empty()) {
      char name[32];
      std::snprintf(name, sizeof(name), "frame-%05d.png", frame);
      WriteFileAtomically((fs::path(out_dir) / name).string(),
                          quenvale::EncodePng(device.Screen(), quenvale::PngEffort::kFast));
    }
#ifdef QUENVALE_WEBP
    if (animation != nullptr && KeepsFrame(frame - 1, fps)) {
      webp_step([&] { animation->Add(device.Screen(), FrameTimeMs(frame - 1)); });
    }
#endif
  }
  std::string written = out_dir;
#ifdef QUENVALE_WEBP
  if (animation != nullptr) {
    if (Clock::now() >= start + kProgressEvery) {
      std::fprintf(stderr, "saverpack: render: writing %s\n", webp_path.c_str());
    }
    const std::vector<uint8_t> bytes =
        webp_step([&] { return animation->Finish(FrameTimeMs(frames)); });
    WriteFileAtomically(webp_path, bytes);
    written += (written.empty() ? "" : " and ") + webp_path + " (" +
               std::to_string(animation->FramesAdded()) + " frames at " + std::to_string(fps) +
               " a second, " + std::to_string(bytes.size()) + " bytes)";
  }
#endif
  const quenvale::ImageSet* set = data.CurrentSet();
  std::printf("%d frames of %dx%d%s, set \"%s\", seed %d, in %s\n", frames, width, height,
              preview ? " (preview)" : "", set != nullptr ? ForTerminal(set->Name).c_str() : "",
              seed, written.c_str());
  return 0;
}

}  // namespace saverpack
