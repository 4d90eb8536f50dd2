// Sprite motion: the bounce off the window's edges, the elastic exchange between sprites that
// touch, and the number of motion steps a frame performs.
#ifndef QUENVALE_SAVER_MOTION_H_
#define QUENVALE_SAVER_MOTION_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "saver/vector.h"

namespace quenvale {

struct Sprite {
  Vector Position;  // top-left corner in client pixels
  Vector Velocity;  // pixels per motion step
};

// In preview mode step counts and font sizes are divided by this.
constexpr double kPreviewScale = 6.4;

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
int32_t BankersRound(double value);

// Motion steps of one frame before the "+ 1": the speed itself, or speed / 6.4 rounded in
// preview. A negative result means the sprites stand still.
int32_t FrameSteps(int32_t speed, bool preview);

struct MotionBounds {
  int32_t client_width = 0;
  int32_t client_height = 0;
  int32_t sprite_width = 0;
  int32_t sprite_height = 0;
};

// Moves the first `count` sprites by their velocities, each bouncing off the edges.
void MoveSprites(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds);

// The pairs (i, j), i < j < count, whose top-left corners are at most `sprite_width` apart, in
// (i, j) order. Positions do not move while pairs are handled, so the pairs can be found first;
// a uniform grid finds them without testing every pair.
std::vector<std::pair<int32_t, int32_t>> TouchingPairs(const std::vector<Sprite>& sprites,
                                                       int32_t count, int32_t sprite_width);
// The same by testing all n x (n - 1) / 2 pairs; kept to check the grid against.
std::vector<std::pair<int32_t, int32_t>> TouchingPairsPlain(const std::vector<Sprite>& sprites,
                                                            int32_t count, int32_t sprite_width);

// The exchange of two equal masses along the line between their corners; later pairs see the
// velocities that earlier ones produced.
// CollideSprites keeps each sprite's likely partners from one call to the next, for as long as
// the sprites it is given have not moved far enough for a new pair to touch.
void Collide(Sprite& first, Sprite& second);
void CollideSprites(std::vector<Sprite>& sprites, int32_t count, int32_t sprite_width);

// The placement rule's overlap test, "is some corner placed so far within `width` of this one"
// (width >= Distance), through a grid over the area the corners come from, [0, max_x] x
// [0, max_y]; the same answers as testing every corner placed so far.
class PlacementGrid {
 public:
  PlacementGrid(float max_x, float max_y, int32_t width);
  bool Overlaps(const Vector& corner) const;
  void Add(const Vector& corner);

 private:
  bool CellOf(const Vector& corner, int32_t* cell) const;

  int32_t width_;
  double cell_size_ = 1;
  int32_t columns_ = 0;  // 0: no grid; every corner is tested
  int32_t rows_ = 0;
  bool spilled_ = false;  // a corner outside the area came: every corner is tested from then on
  std::vector<std::vector<Vector>> cells_;
  std::vector<Vector> all_;
};

// One motion step: every sprite moves, then, when `bounce_images`, touching pairs exchange.
void MotionStep(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds,
                bool bounce_images);

}  // namespace quenvale

#endif  // QUENVALE_SAVER_MOTION_H_
