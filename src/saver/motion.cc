#include "saver/motion.h"

#include <algorithm>
#include <cmath>

namespace quenvale {

int32_t BankersRound(double value) { return static_cast<int32_t>(std::nearbyint(value)); }

int32_t FrameSteps(int32_t speed, bool preview) {
  return preview ? BankersRound(speed / kPreviewScale) : speed;
}

namespace {

// One axis of one sprite: move, then the low edge, then the high edge (tested after the low).
void MoveAxis(float& position, float& velocity, int32_t limit) {
  position = RoundToFloat(static_cast<double>(position) + velocity);
  if (position <= 0) {
    position = 0;
    velocity = -velocity;
  }
  if (position >= limit) {
    position = static_cast<float>(limit);
    velocity = -velocity;
  }
}

}  // namespace

void MoveSprites(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  for (int32_t i = 0; i < n; ++i) {
    Sprite& s = sprites[i];
    MoveAxis(s.Position.X, s.Velocity.X, bounds.client_width - bounds.sprite_width);
    MoveAxis(s.Position.Y, s.Velocity.Y, bounds.client_height - bounds.sprite_height);
  }
}

void Collide(Sprite& first, Sprite& second) {
  Vector n = Copy(first.Position);
  Subtract(n, second.Position);
  Normalize(n);
  const float a = Dot(first.Velocity, n);
  const float b = Dot(second.Velocity, n);
  const float p = RoundToFloat((static_cast<double>(a) - b) * 2 / 2);
  const Vector impulse(RoundToFloat(static_cast<double>(p) * n.X),
                       RoundToFloat(static_cast<double>(p) * n.Y));
  Subtract(first.Velocity, impulse);
  Add(second.Velocity, impulse);
}

std::vector<std::pair<int32_t, int32_t>> TouchingPairsPlain(const std::vector<Sprite>& sprites,
                                                            int32_t count, int32_t sprite_width) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      if (Distance(sprites[i].Position, sprites[j].Position) <= sprite_width) pairs.emplace_back(i, j);
    }
  }
  return pairs;
}

std::vector<std::pair<int32_t, int32_t>> TouchingPairs(const std::vector<Sprite>& sprites,
                                                       int32_t count, int32_t sprite_width) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  if (n < 16 || sprite_width < 0) return TouchingPairsPlain(sprites, count, sprite_width);
  // Cells a little wider than the touching distance: a rounded distance of at most the width
  // can belong to corners slightly more than the width apart, and those must still be
  // neighbours in the grid.
  const double cell = sprite_width + 1.0 + sprite_width * 1e-5;
  struct Entry {
    int64_t cx, cy;
    int32_t index;
  };
  std::vector<Entry> entries;
  entries.reserve(n);
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return TouchingPairsPlain(sprites, count, sprite_width);
    entries.push_back(Entry{static_cast<int64_t>(std::floor(p.X / cell)),
                            static_cast<int64_t>(std::floor(p.Y / cell)), i});
  }
  std::vector<Entry> sorted = entries;
  auto cell_less = [](const Entry& a, const Entry& b) {
    return a.cx != b.cx ? a.cx < b.cx : a.cy != b.cy ? a.cy < b.cy : a.index < b.index;
  };
  std::sort(sorted.begin(), sorted.end(), cell_less);

  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (const Entry& e : entries) {
    for (int64_t dx = -1; dx <= 1; ++dx) {
      for (int64_t dy = -1; dy <= 1; ++dy) {
        const Entry probe{e.cx + dx, e.cy + dy, e.index + 1};  // only later sprites: j > i
        for (auto it = std::lower_bound(sorted.begin(), sorted.end(), probe, cell_less);
             it != sorted.end() && it->cx == probe.cx && it->cy == probe.cy; ++it) {
          if (Distance(sprites[e.index].Position, sprites[it->index].Position) <= sprite_width) {
            pairs.emplace_back(e.index, it->index);
          }
        }
      }
    }
  }
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

void CollideSprites(std::vector<Sprite>& sprites, int32_t count, int32_t sprite_width) {
  for (const auto& [i, j] : TouchingPairs(sprites, count, sprite_width)) {
    Collide(sprites[i], sprites[j]);
  }
}

void MotionStep(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds,
                bool bounce_images) {
  MoveSprites(sprites, count, bounds);
  if (bounce_images) CollideSprites(sprites, count, bounds.sprite_width);
}

}  // namespace quenvale
