#include "saver/motion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

TEST(MotionTest, BankersRoundHalvesToEven) {
  EXPECT_EQ(BankersRound(2.5), 2);
  EXPECT_EQ(BankersRound(3.5), 4);
  EXPECT_EQ(BankersRound(-2.5), -2);
  EXPECT_EQ(BankersRound(1.5625), 2);
  EXPECT_EQ(BankersRound(2.4999), 2);
}

struct StepsCase {
  int32_t speed;
  bool preview;
  int32_t steps;
};

class FrameStepsTest : public TestWithParam<StepsCase> {};

TEST_P(FrameStepsTest, SpeedBecomesStepsDividedInPreview) {
  EXPECT_EQ(FrameSteps(GetParam().speed, GetParam().preview), GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(Speeds, FrameStepsTest,
                         Values(StepsCase{0, false, 0}, StepsCase{1, false, 1},
                                StepsCase{-1, false, -1}, StepsCase{10, true, 2},
                                StepsCase{16, true, 2}, StepsCase{3, true, 0},
                                StepsCase{-3, true, 0}, StepsCase{-4, true, -1}));

struct EdgeCase {
  float position;
  float velocity;
  float after_position;
  float after_velocity;
};

class EdgeBounceTest : public TestWithParam<EdgeCase> {};

// Window 640 wide, sprite 40 wide: the right edge limit is 600.
TEST_P(EdgeBounceTest, BouncesAtOrBeyondEitherEdge) {
  std::vector<Sprite> sprites(1);
  sprites[0].Position = Vector(GetParam().position, 100);
  sprites[0].Velocity = Vector(GetParam().velocity, 0.25f);
  MoveSprites(sprites, 1, MotionBounds{640, 480, 40, 30});
  EXPECT_EQ(sprites[0].Position.X, GetParam().after_position);
  EXPECT_EQ(sprites[0].Velocity.X, GetParam().after_velocity);
  EXPECT_EQ(sprites[0].Position.Y, 100.25f);
  EXPECT_EQ(sprites[0].Velocity.Y, 0.25f);
}

INSTANTIATE_TEST_SUITE_P(Edges, EdgeBounceTest,
                         Values(EdgeCase{0.2f, -0.5f, 0, 0.5f},        // reaches -0.3
                                EdgeCase{0.5f, -0.5f, 0, 0.5f},        // lands exactly on 0
                                EdgeCase{0.75f, -0.5f, 0.25f, -0.5f},  // inside: no bounce
                                EdgeCase{599.5f, 0.5f, 600, -0.5f},    // lands exactly on CW - W
                                EdgeCase{599.75f, 0.5f, 600, -0.5f},   // beyond it
                                EdgeCase{599.0f, 0.5f, 599.5f, 0.5f}));

TEST(MotionTest, SpriteWiderThanTheWindowEndsEveryStepAtTheNegativeLimit) {
  std::vector<Sprite> sprites(1);
  sprites[0].Position = Vector(5, 5);
  sprites[0].Velocity = Vector(0.5f, 0.5f);
  MoveSprites(sprites, 1, MotionBounds{100, 100, 150, 10});
  EXPECT_EQ(sprites[0].Position.X, -50.0f);
  MoveSprites(sprites, 1, MotionBounds{100, 100, 150, 10});
  EXPECT_EQ(sprites[0].Position.X, -50.0f);
}

TEST(MotionTest, OnlyTheFirstCountSpritesMove) {
  std::vector<Sprite> sprites(3);
  for (Sprite& s : sprites) {
    s.Position = Vector(10, 10);
    s.Velocity = Vector(1, 1);
  }
  MoveSprites(sprites, 2, MotionBounds{640, 480, 40, 30});
  EXPECT_EQ(sprites[1].Position.X, 11.0f);
  EXPECT_EQ(sprites[2].Position.X, 10.0f);
}

TEST(MotionTest, HeadOnCollisionExchangesVelocities) {
  std::vector<Sprite> sprites(2);
  sprites[0] = Sprite{Vector(0, 0), Vector(1, 0)};
  sprites[1] = Sprite{Vector(50, 0), Vector(-1, 0)};
  CollideSprites(sprites, 2, 64);
  EXPECT_EQ(sprites[0].Velocity.X, -1.0f);
  EXPECT_EQ(sprites[0].Velocity.Y, 0.0f);
  EXPECT_EQ(sprites[1].Velocity.X, 1.0f);
  EXPECT_EQ(sprites[1].Velocity.Y, 0.0f);
}

TEST(MotionTest, SpritesAtTheSamePlaceKeepTheirVelocities) {
  std::vector<Sprite> sprites(2);
  sprites[0] = Sprite{Vector(7, 7), Vector(0.3f, -0.2f)};
  sprites[1] = Sprite{Vector(7, 7), Vector(-0.1f, 0.4f)};
  CollideSprites(sprites, 2, 64);
  EXPECT_EQ(sprites[0].Velocity.X, 0.3f);
  EXPECT_EQ(sprites[1].Velocity.Y, 0.4f);
}

TEST(MotionTest, TouchingMeansAtMostOneWidthApart) {
  std::vector<Sprite> sprites(3);
  sprites[0].Position = Vector(0, 0);
  sprites[1].Position = Vector(100, 0);
  sprites[2].Position = Vector(0, 100.5f);
  EXPECT_EQ(TouchingPairsPlain(sprites, 3, 100),
            (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
}

TEST(MotionTest, LaterPairsSeeTheVelocitiesOfEarlierOnes) {
  // Three in a row, each touching its neighbour: (0, 1) runs before (1, 2) and hands sprite 1 a
  // new velocity that (1, 2) then passes on.
  std::vector<Sprite> sprites(3);
  sprites[0] = Sprite{Vector(0, 0), Vector(1, 0)};
  sprites[1] = Sprite{Vector(60, 0), Vector(0, 0)};
  sprites[2] = Sprite{Vector(120, 0), Vector(0, 0)};
  CollideSprites(sprites, 3, 64);
  EXPECT_EQ(sprites[0].Velocity.X, 0.0f);
  EXPECT_EQ(sprites[1].Velocity.X, 0.0f);
  EXPECT_EQ(sprites[2].Velocity.X, 1.0f);
}

std::vector<Sprite> RandomSprites(std::mt19937& rng, int n, int width, int height, int cluster) {
  std::uniform_real_distribution<float> x(0, static_cast<float>(width));
  std::uniform_real_distribution<float> y(0, static_cast<float>(height));
  std::uniform_real_distribution<float> v(-0.5f, 0.5f);
  std::uniform_int_distribution<int> grid(0, 20);
  std::vector<Sprite> sprites(n);
  for (Sprite& s : sprites) {
    if (cluster > 0) {
      // Corners on a lattice of the sprite width: many pairs exactly one width apart.
      s.Position =
          Vector(static_cast<float>(grid(rng) * cluster), static_cast<float>(grid(rng) * cluster));
    } else {
      s.Position = Vector(x(rng), y(rng));
    }
    s.Velocity = Vector(v(rng), v(rng));
  }
  return sprites;
}

bool SameBits(const std::vector<Sprite>& a, const std::vector<Sprite>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Sprite)) == 0;
}

// The exchange as the rule words it, one operation at a time, to check the fast one against.
void ExchangeAsWritten(Sprite& first, Sprite& second) {
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

// The grid must give exactly the pairs, and the exchanges exactly the velocities, of the plain
// loop over every pair with the exchange as written.
TEST(MotionTest, GridGivesTheSameResultsAsThePlainLoop) {
  std::mt19937 rng(20261208);
  int configurations = 0, pairs_seen = 0;
  for (int round = 0; round < 3000; ++round) {
    const int n = 16 + static_cast<int>(rng() % 120);
    const int width = 1 + static_cast<int>(rng() % 200);
    const int cluster = round % 3 == 0 ? width : 0;
    const int area = 200 + static_cast<int>(rng() % 1800);
    std::vector<Sprite> grid = RandomSprites(rng, n, area, area * 3 / 4, cluster);
    if (round % 5 == 1) {  // fast ones too, as a high Speed setting makes them
      for (Sprite& s : grid) s.Velocity = Vector(s.Velocity.X * 90, s.Velocity.Y * 37);
    }
    std::vector<Sprite> plain = grid;
    const MotionBounds bounds{area, area * 3 / 4, width, width};
    for (int step = 0; step < 4; ++step) {
      const auto expected = TouchingPairsPlain(plain, n, width);
      ASSERT_EQ(TouchingPairs(grid, n, width), expected) << "round " << round;
      pairs_seen += static_cast<int>(expected.size());
      MoveSprites(plain, n, bounds);
      for (const auto& [i, j] : TouchingPairsPlain(plain, n, width)) {
        ExchangeAsWritten(plain[i], plain[j]);
      }
      MotionStep(grid, n, bounds, true);
      ASSERT_TRUE(SameBits(grid, plain)) << "round " << round << " step " << step;
    }
    ++configurations;
  }
  EXPECT_EQ(configurations, 3000);
  EXPECT_GT(pairs_seen, 10000) << "the configurations must actually collide";
}

// The same at the edges of what positions and widths can be: nothing wide, the widest picture,
// corners left of and above the origin, and corners millions of pixels out.
TEST(MotionTest, GridMatchesThePlainLoopAtTheExtremes) {
  struct Extreme {
    int width;
    float origin;  // added to both coordinates
    int spread;    // the corners' area, before the origin
    int cluster;   // corners on a lattice of this pitch; 0: anywhere
  };
  const Extreme extremes[] = {
      {0, 0, 40, 2},     {0, 0, 4000, 0},     {16384, 0, 50000, 0},  {16384, -30000, 60000, 0},
      {8, -500, 300, 8}, {50, 3e6f, 2000, 0}, {50, -4e6f, 1500, 50}, {1, 0, 1 << 20, 0}};
  std::mt19937 rng(77);
  for (const Extreme& e : extremes) {
    for (int n : {16, 200, 1500}) {
      std::vector<Sprite> sprites = RandomSprites(rng, n, e.spread, e.spread, e.cluster);
      for (Sprite& s : sprites)
        s.Position = Vector(s.Position.X + e.origin, s.Position.Y + e.origin);
      ASSERT_EQ(TouchingPairs(sprites, n, e.width), TouchingPairsPlain(sprites, n, e.width))
          << "width " << e.width << " origin " << e.origin << " spread " << e.spread << " n " << n;
    }
  }
}

// A pair whose Length rounds down to the width touches, though its squared distance is more
// than the width's square; one a little farther does not.
TEST(MotionTest, PairsJustBeyondTheWidthTouchAsTheirLengthRounds) {
  struct Edge {
    int width;
    float touching_dy, apart_dy;  // the second corner's offset across the line of the pair
  };
  for (const Edge& e : {Edge{128, 1.0f / 32, 1.0f / 8}, Edge{16384, 1.0f, 8.0f}}) {
    const Vector near(static_cast<float>(e.width), e.touching_dy);
    ASSERT_EQ(Length(near), e.width);
    ASSERT_GT(double{near.X} * near.X + double{near.Y} * near.Y,
              static_cast<double>(e.width) * e.width);
    ASSERT_GT(Length(Vector(static_cast<float>(e.width), e.apart_dy)), e.width);
    // Pairs far apart from each other, every other one just touching.
    std::vector<Sprite> grid(32);
    for (int k = 0; k < 16; ++k) {
      const float x = static_cast<float>(k) * 3 * e.width;
      grid[2 * k].Position = Vector(x, 0);
      grid[2 * k + 1].Position = Vector(x + e.width, k % 2 == 0 ? e.touching_dy : e.apart_dy);
      grid[2 * k].Velocity = Vector(1, 0);
      grid[2 * k + 1].Velocity = Vector(-1, 0.5f);
    }
    std::vector<Sprite> plain = grid;
    const auto pairs = TouchingPairsPlain(plain, 32, e.width);
    ASSERT_EQ(pairs.size(), size_t{8});
    for (const auto& [i, j] : pairs) ExchangeAsWritten(plain[i], plain[j]);
    CollideSprites(grid, 32, e.width);
    EXPECT_TRUE(SameBits(grid, plain)) << "width " << e.width;
  }
}

// Thousands of pictures in one place have more touching pairs than are kept between steps:
// they are exchanged as they are found, still exactly as the plain loop exchanges them.
TEST(MotionTest, APileTooCrowdedToKeepMatchesThePlainLoop) {
  std::mt19937 rng(9);
  std::vector<Sprite> grid = RandomSprites(rng, 2100, 40, 40, 0);
  std::vector<Sprite> plain = grid;
  const MotionBounds bounds{2000, 2000, 64, 64};
  for (int step = 0; step < 2; ++step) {
    MoveSprites(plain, 2100, bounds);
    const auto pairs = TouchingPairsPlain(plain, 2100, 64);
    ASSERT_GT(pairs.size(), size_t{1} << 21);
    for (const auto& [i, j] : pairs) ExchangeAsWritten(plain[i], plain[j]);
    MotionStep(grid, 2100, bounds, true);
    ASSERT_TRUE(SameBits(grid, plain)) << "step " << step;
  }
}

// The placement grid answers as a test against every corner placed so far.
TEST(MotionTest, PlacementGridAnswersAsTheFullTest) {
  std::mt19937 rng(5);
  for (const int width : {0, 1, 16, 128, 16384}) {
    for (const int area : {1, 300, 5000}) {
      PlacementGrid grid(static_cast<float>(area), static_cast<float>(area * 3 / 4), width);
      std::vector<Vector> placed;
      std::uniform_int_distribution<int> x(0, area), y(0, area * 3 / 4);
      for (int k = 0; k < 400; ++k) {
        // Now and then a corner outside the area the grid was made for.
        const Vector corner = k % 97 == 96
                                  ? Vector(-3.0f, static_cast<float>(area) * 2)
                                  : Vector(static_cast<float>(x(rng)), static_cast<float>(y(rng)));
        bool expected = false;
        for (const Vector& other : placed) expected = expected || width >= Distance(corner, other);
        ASSERT_EQ(grid.Overlaps(corner), expected)
            << "width " << width << " area " << area << " k " << k;
        grid.Add(corner);
        placed.push_back(corner);
      }
    }
  }
}

}  // namespace
}  // namespace quenvale
