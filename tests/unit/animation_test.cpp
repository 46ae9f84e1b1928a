// The spin and zoom steps, run for whole cycles from their start values.
#include "scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(Spin, OneTurnHas241ValuesAndHolds360ForOneTick)
{
    std::vector<float> turn{0.0f};
    for (float a = nextSpinAngle(0.0f); a != 0.0f; a = nextSpinAngle(a)) {
        turn.push_back(a);
        ASSERT_LT(turn.size(), 1000u) << "the angle never wrapped";
    }
    ASSERT_EQ(turn.size(), 241u);
    for (std::size_t k = 0; k < turn.size(); k++)
        EXPECT_EQ(turn[k], 1.5f * static_cast<float>(k)) << "tick " << k;
    EXPECT_EQ(turn.back(), 360.0f);
}

TEST(Spin, EveryTurnRepeatsTheFirst)
{
    float a = 0.0f;
    std::vector<float> first;
    for (int k = 0; k < 241; k++, a = nextSpinAngle(a))
        first.push_back(a);
    for (int k = 0; k < 5 * 241; k++, a = nextSpinAngle(a))
        ASSERT_EQ(a, first[k % 241]) << "tick " << 241 + k;
}

struct Zoom {
    std::vector<float> scale; // scale[n] after n frames; scale[0] is the start
    std::vector<int> growing;
};

Zoom runZoom(int frames)
{
    Zoom z{{1.0f}, {1}};
    for (int n = 0; n < frames; n++) {
        const float s = nextTexScale(z.scale.back(), z.growing.back());
        z.growing.push_back(nextScaleGrowing(s, z.growing.back()));
        z.scale.push_back(s);
    }
    return z;
}

TEST(Zoom, TurnsJustAfterPassingThree)
{
    const Zoom z = runZoom(100);
    EXPECT_LT(z.scale[40], 3.0f);
    EXPECT_NEAR(z.scale[40], 3.0f, 1e-5f);
    EXPECT_EQ(z.growing[40], 1);
    EXPECT_GT(z.scale[41], 3.0f);
    EXPECT_NEAR(z.scale[41], 3.05f, 1e-5f);
    EXPECT_EQ(z.growing[41], 0);
    EXPECT_LT(z.scale[42], 3.0f);
    EXPECT_EQ(z.scale[42], z.scale[40]);
}

TEST(Zoom, TurnsOneUnitBelowOne)
{
    const Zoom z = runZoom(100);
    for (int n = 42; n < 82; n++)
        ASSERT_GE(z.scale[n], 1.0f) << "frame " << n;
    EXPECT_EQ(z.scale[82], std::nextafter(1.0f, 0.0f)); // 1 - 2^-24
    EXPECT_EQ(z.growing[82], 1);
    EXPECT_EQ(z.scale[83], z.scale[1]);
}

TEST(Zoom, StepsInDoubleAndRoundsToFloat)
{
    const Zoom z = runZoom(100);
    for (int n = 0; n < 100; n++) {
        const double step = z.growing[n] ? 0.05 : -0.05;
        ASSERT_EQ(z.scale[n + 1], static_cast<float>(static_cast<double>(z.scale[n]) + step))
            << "frame " << n;
    }
}

TEST(Zoom, RepeatsEvery82FramesAndNeverReturnsToOne)
{
    const Zoom z = runZoom(5 * 82 + 1);
    for (std::size_t n = 1; n + 82 < z.scale.size(); n++) {
        ASSERT_EQ(z.scale[n + 82], z.scale[n]) << "frame " << n;
        ASSERT_EQ(z.growing[n + 82], z.growing[n]) << "frame " << n;
    }
    for (std::size_t n = 1; n < z.scale.size(); n++)
        ASSERT_NE(z.scale[n], 1.0f) << "frame " << n;
    // a shorter period would be a different zoom
    for (int p = 1; p < 82; p++)
        EXPECT_FALSE(z.scale[1 + p] == z.scale[1] && z.growing[1 + p] == z.growing[1])
            << "period " << p;
}

TEST(Zoom, StaysWithinOneStepOfItsBounds)
{
    const Zoom z = runZoom(3 * 82);
    for (float s : z.scale) {
        EXPECT_GT(s, 1.0f - 0.05f);
        EXPECT_LT(s, 3.0f + 0.05f + 1e-5f);
    }
}

} // namespace
