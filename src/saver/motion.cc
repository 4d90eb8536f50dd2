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
      if (Distance(sprites[i].Position, sprites[j].Position) <= sprite_width)
        pairs.emplace_back(i, j);
    }
  }
  return pairs;
}

namespace {

// Calls visit(i, j) for every touching pair in (i, j) order. Positions must not change during the
// visit; velocities may, which is what lets collisions be handled as the pairs are found.
template <typename Visit>
void VisitTouchingPairs(const std::vector<Sprite>& sprites, int32_t n, int32_t sprite_width,
                        Visit visit) {
  auto plain = [&] {
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = i + 1; j < n; ++j) {
        if (Distance(sprites[i].Position, sprites[j].Position) <= sprite_width) visit(i, j);
      }
    }
  };
  if (n < 16 || sprite_width < 0) return plain();
  // Cells a little wider than the touching distance: a rounded distance of at most the width
  // can belong to corners slightly more than the width apart, and those must still be
  // neighbours in the grid.
  const double cell = sprite_width + 1.0 + sprite_width * 1e-5;
  float min_x = sprites[0].Position.X, max_x = min_x;
  float min_y = sprites[0].Position.Y, max_y = min_y;
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return plain();
    min_x = std::min(min_x, p.X);
    max_x = std::max(max_x, p.X);
    min_y = std::min(min_y, p.Y);
    max_y = std::max(max_y, p.Y);
  }
  const double columns_wide = std::floor((static_cast<double>(max_x) - min_x) / cell) + 1;
  const double rows_high = std::floor((static_cast<double>(max_y) - min_y) / cell) + 1;
  // The grid pays while clearing and scanning its cells costs less than the plain loop's
  // n (n - 1) / 2 tests (a few sprites spread over a huge area do not pay); past a few million
  // cells its memory does not.
  const double cells = columns_wide * rows_high;
  const double plain_work = static_cast<double>(n) * (n - 1) / 2;
  if (cells > (1 << 22) || cells > std::max(4.0 * n + 1024, plain_work / 2)) return plain();
  const int32_t columns = static_cast<int32_t>(columns_wide);
  const int32_t rows = static_cast<int32_t>(rows_high);

  // Sprites bucketed by cell, each bucket in index order (a counting sort). The buffers are
  // kept between calls: a frame runs several motion steps.
  thread_local std::vector<int32_t> cell_of, start, members, fill, partners;
  cell_of.resize(n);
  start.assign(static_cast<size_t>(columns) * rows + 1, 0);
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    const int32_t cx =
        std::min(columns - 1, static_cast<int32_t>((p.X - static_cast<double>(min_x)) / cell));
    const int32_t cy =
        std::min(rows - 1, static_cast<int32_t>((p.Y - static_cast<double>(min_y)) / cell));
    cell_of[i] = cy * columns + cx;
    ++start[cell_of[i] + 1];
  }
  for (size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
  members.resize(n);
  fill.assign(start.begin(), start.end() - 1);
  for (int32_t i = 0; i < n; ++i) members[fill[cell_of[i]]++] = i;

  // Corners in bucket order, so that the neighbour scan reads memory in sequence.
  thread_local std::vector<Vector> corners;
  corners.resize(n);
  for (int32_t k = 0; k < n; ++k) corners[k] = sprites[members[k]].Position;

  // Beyond this squared distance no rounding brings two corners within the width.
  const double far = (sprite_width + 1.0) * (sprite_width + 1.0);
  for (int32_t i = 0; i < n; ++i) {
    partners.clear();
    const Vector a = sprites[i].Position;
    const int32_t cx = cell_of[i] % columns, cy = cell_of[i] / columns;
    const int32_t left = std::max(0, cx - 1), right = std::min(columns - 1, cx + 1);
    for (int32_t y = std::max(0, cy - 1); y <= std::min(rows - 1, cy + 1); ++y) {
      // The three cells of a row are neighbours in the bucket order too: one run.
      const int32_t first = start[y * columns + left], last = start[y * columns + right + 1];
      for (int32_t k = first; k < last; ++k) {
        const Vector& b = corners[k];
        const double dx = static_cast<double>(a.X) - b.X, dy = static_cast<double>(a.Y) - b.Y;
        if (dx * dx + dy * dy > far) continue;
        const int32_t j = members[k];
        if (j > i && Distance(a, b) <= sprite_width) partners.push_back(j);
      }
    }
    std::sort(partners.begin(), partners.end());
    for (int32_t j : partners) visit(i, j);
  }
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> TouchingPairs(const std::vector<Sprite>& sprites,
                                                       int32_t count, int32_t sprite_width) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  VisitTouchingPairs(sprites, n, sprite_width,
                     [&pairs](int32_t i, int32_t j) { pairs.emplace_back(i, j); });
  return pairs;
}

void CollideSprites(std::vector<Sprite>& sprites, int32_t count, int32_t sprite_width) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  VisitTouchingPairs(sprites, n, sprite_width,
                     [&sprites](int32_t i, int32_t j) { Collide(sprites[i], sprites[j]); });
}

PlacementGrid::PlacementGrid(float max_x, float max_y, int32_t width) : width_(width) {
  if (width < 0 || !std::isfinite(max_x) || !std::isfinite(max_y) || max_x < 0 || max_y < 0) {
    return;
  }
  // As for the touching pairs: a little wider than the distance, so that rounding cannot hide a
  // neighbour two cells away.
  cell_size_ = width + 1.0 + width * 1e-5;
  const double columns = std::floor(max_x / cell_size_) + 1;
  const double rows = std::floor(max_y / cell_size_) + 1;
  if (columns * rows > (1 << 20)) return;  // tiny sprites on a huge area: test them all
  columns_ = static_cast<int32_t>(columns);
  rows_ = static_cast<int32_t>(rows);
  cells_.resize(static_cast<size_t>(columns_) * rows_);
}

bool PlacementGrid::CellOf(const Vector& corner, int32_t* cell) const {
  if (columns_ == 0 || !(corner.X >= 0) || !(corner.Y >= 0)) return false;
  const double cx = std::floor(corner.X / cell_size_), cy = std::floor(corner.Y / cell_size_);
  if (cx >= columns_ || cy >= rows_) return false;
  *cell = static_cast<int32_t>(cy) * columns_ + static_cast<int32_t>(cx);
  return true;
}

bool PlacementGrid::Overlaps(const Vector& corner) const {
  int32_t cell = 0;
  if (spilled_ || !CellOf(corner, &cell)) {
    for (const Vector& other : all_) {
      if (width_ >= Distance(corner, other)) return true;
    }
    return false;
  }
  const int32_t cx = cell % columns_, cy = cell / columns_;
  for (int32_t y = std::max(0, cy - 1); y <= std::min(rows_ - 1, cy + 1); ++y) {
    for (int32_t x = std::max(0, cx - 1); x <= std::min(columns_ - 1, cx + 1); ++x) {
      for (const Vector& other : cells_[static_cast<size_t>(y) * columns_ + x]) {
        if (width_ >= Distance(corner, other)) return true;
      }
    }
  }
  return false;
}

void PlacementGrid::Add(const Vector& corner) {
  all_.push_back(corner);
  int32_t cell = 0;
  if (CellOf(corner, &cell)) {
    cells_[cell].push_back(corner);
  } else {
    spilled_ = true;
  }
}

void MotionStep(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds,
                bool bounce_images) {
  MoveSprites(sprites, count, bounds);
  if (bounce_images) CollideSprites(sprites, count, bounds.sprite_width);
}

}  // namespace quenvale
