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

namespace {

// The exchange along `n`, the first corner minus the second as Subtract rounds it, whose Length
// is `length`, between the two sprites' velocities: what Collide computes, for callers that have
// both already.
void CollideAlong(Vector& first, Vector& second, Vector n, float length) {
  NormalizeWithLength(n, length);
  const float a = Dot(first, n);
  const float b = Dot(second, n);
  // (a - b) x 2 / 2: doubling and halving are exact in double, where a - b of two floats
  // cannot overflow, so they are left out.
  const float p = RoundToFloat(static_cast<double>(a) - b);
  const Vector impulse(RoundToFloat(static_cast<double>(p) * n.X),
                       RoundToFloat(static_cast<double>(p) * n.Y));
  Subtract(first, impulse);
  Add(second, impulse);
}

}  // namespace

void Collide(Sprite& first, Sprite& second) {
  Vector n = Copy(first.Position);
  Subtract(n, second.Position);
  CollideAlong(first.Velocity, second.Velocity, n, Length(n));
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

// A touching pair as the visit sees it: the partner j of sprite i, the difference of their corners
// (i's minus j's, rounded as Subtract rounds it) and its Length, which is also their Distance.
struct Touch {
  int32_t j;
  Vector difference;
  float distance;
};

// Hands every touching pair to `visit` in (i, j) order: for each sprite i, Begin(i), then
// Pair(i, touch) for each partner j > i in turn, then End(i). Positions must not change during
// the visit; velocities may, which is what lets collisions be handled as the pairs are found.
template <typename Visit>
void VisitTouchingPairs(const std::vector<Sprite>& sprites, int32_t n, int32_t sprite_width,
                        Visit&& visit) {
  auto plain = [&] {
    for (int32_t i = 0; i < n; ++i) {
      visit.Begin(i);
      for (int32_t j = i + 1; j < n; ++j) {
        Vector d = Copy(sprites[i].Position);
        Subtract(d, sprites[j].Position);
        const Touch t{j, d, Length(d)};
        if (t.distance <= sprite_width) visit.Pair(i, t);
      }
      visit.End(i);
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

  // Sprites bucketed by cell, each bucket in index order (a counting sort), with their corners
  // beside them so that the neighbour scan reads memory in sequence. The buffers are kept
  // between calls: a frame runs several motion steps.
  struct Member {
    Vector corner;
    int32_t index;
  };
  thread_local std::vector<int32_t> cell_of_buffer, start_buffer, next_buffer;
  thread_local std::vector<Member> members_buffer;
  thread_local std::vector<Touch> touches_buffer;
  thread_local std::vector<double> squares_buffer;
  cell_of_buffer.resize(n);
  start_buffer.assign(static_cast<size_t>(columns) * rows + 1, 0);
  members_buffer.resize(n);
  touches_buffer.resize(n);
  squares_buffer.resize(n);
  int32_t* const cell_of = cell_of_buffer.data();
  int32_t* const start = start_buffer.data();
  Member* const members = members_buffer.data();
  Touch* const touches = touches_buffer.data();
  double* const squares = squares_buffer.data();
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    const int32_t cx =
        std::min(columns - 1, static_cast<int32_t>((p.X - static_cast<double>(min_x)) / cell));
    const int32_t cy =
        std::min(rows - 1, static_cast<int32_t>((p.Y - static_cast<double>(min_y)) / cell));
    cell_of[i] = cy * columns + cx;
    ++start[cell_of[i] + 1];
  }
  const size_t cell_count = static_cast<size_t>(columns) * rows;
  for (size_t c = 1; c <= cell_count; ++c) start[c] += start[c - 1];
  // next[c]: where cell c's members above the sprite in hand begin. Members are in index order
  // and sprites are taken in index order, so sprite i is always the first member its cell has
  // left: stepping past it keeps every mark right, and members at or below it are never tested.
  next_buffer.assign(start, start + cell_count);
  int32_t* const next = next_buffer.data();
  for (int32_t i = 0; i < n; ++i) members[next[cell_of[i]]++] = Member{sprites[i].Position, i};
  std::copy(start, start + cell_count, next);
  // A sprite's touching partners are marked in a bitmap by index and kept at their partner's
  // slot: reading the marks in order hands them out in partner order, without a sort.
  thread_local std::vector<uint64_t> marks_buffer;
  thread_local std::vector<Touch> by_partner_buffer;
  marks_buffer.assign((static_cast<size_t>(n) + 63) / 64, 0);
  by_partner_buffer.resize(n);
  uint64_t* const marks = marks_buffer.data();
  Touch* const by_partner = by_partner_buffer.data();

  // Beyond this squared distance no rounding brings two corners within the width.
  const double far = (sprite_width + 1.0) * (sprite_width + 1.0);
  for (int32_t i = 0; i < n; ++i) {
    const Vector a = sprites[i].Position;
    ++next[cell_of[i]];
    const int32_t cx = cell_of[i] % columns, cy = cell_of[i] / columns;
    const int32_t left = std::max(0, cx - 1), right = std::min(columns - 1, cx + 1);
    int32_t found = 0;
    for (int32_t y = std::max(0, cy - 1); y <= std::min(rows - 1, cy + 1); ++y) {
      for (int32_t c = y * columns + left; c <= y * columns + right; ++c) {
        // Every member is written and kept only when near: no branch to mispredict.
        for (int32_t k = next[c], end = start[c + 1]; k < end; ++k) {
          const Vector& b = members[k].corner;
          const float dx = RoundToFloat(static_cast<double>(a.X) - b.X);
          const float dy = RoundToFloat(static_cast<double>(a.Y) - b.Y);
          const double squared = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
          touches[found] = Touch{members[k].index, Vector(dx, dy), 0};
          squares[found] = squared;
          found += squared <= far;
        }
      }
    }
    if (found == 0) continue;
    int32_t low = n, high = 0;
    for (int32_t t = 0; t < found; ++t) {
      const int32_t j = touches[t].j;
      const float distance = RoundToFloat(std::sqrt(squares[t]));
      by_partner[j] = Touch{j, touches[t].difference, distance};
      marks[j >> 6] |= static_cast<uint64_t>(distance <= sprite_width) << (j & 63);
      low = std::min(low, j);
      high = std::max(high, j);
    }
    visit.Begin(i);
    for (int32_t w = low >> 6; w <= high >> 6; ++w) {
      for (uint64_t m = marks[w]; m != 0; m &= m - 1) {
        visit.Pair(i, by_partner[w * 64 + __builtin_ctzll(m)]);
      }
      marks[w] = 0;
    }
    visit.End(i);
  }
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> TouchingPairs(const std::vector<Sprite>& sprites,
                                                       int32_t count, int32_t sprite_width) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  struct Pairs {
    std::vector<std::pair<int32_t, int32_t>>* pairs;
    void Begin(int32_t) {}
    void Pair(int32_t i, const Touch& t) { pairs->emplace_back(i, t.j); }
    void End(int32_t) {}
  };
  VisitTouchingPairs(sprites, n, sprite_width, Pairs{&pairs});
  return pairs;
}

void CollideSprites(std::vector<Sprite>& sprites, int32_t count, int32_t sprite_width) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  // Sprite i's velocity goes from one exchange to the next in registers: its partners are all
  // other sprites.
  struct Exchanges {
    Sprite* all;
    Vector velocity;
    void Begin(int32_t i) { velocity = all[i].Velocity; }
    void Pair(int32_t, const Touch& t) {
      CollideAlong(velocity, all[t.j].Velocity, t.difference, t.distance);
    }
    void End(int32_t i) { all[i].Velocity = velocity; }
  };
  VisitTouchingPairs(sprites, n, sprite_width, Exchanges{sprites.data(), Vector()});
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
