// The checkerboard's texels: 8 x 8 squares, cyan and (1, 0, 0).
#include "scene.h"

#include <gtest/gtest.h>

namespace {

struct Rgba {
    int r, g, b, a;
};
const Rgba dark{1, 0, 0, 255};
const Rgba cyan{0, 255, 255, 255};

Rgba texel(int row, int col)
{
    GLubyte t[4];
    checkerTexel(row, col, t);
    return {t[0], t[1], t[2], t[3]};
}

bool same(const Rgba &x, const Rgba &y)
{
    return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a;
}

struct TexelCase {
    int row, col;
    Rgba colour;
};

class Texel : public testing::TestWithParam<TexelCase> {};

TEST_P(Texel, HasItsSquaresColour)
{
    const TexelCase &c = GetParam();
    const Rgba t = texel(c.row, c.col);
    EXPECT_TRUE(same(t, c.colour))
        << "texel (" << c.row << ", " << c.col << "): expected (" << c.colour.r << ", "
        << c.colour.g << ", " << c.colour.b << ", " << c.colour.a << ") observed (" << t.r << ", "
        << t.g << ", " << t.b << ", " << t.a << ")";
}

INSTANTIATE_TEST_SUITE_P(Corners, Texel,
                         testing::Values(TexelCase{0, 0, dark}, TexelCase{0, 8, cyan},
                                         TexelCase{8, 0, cyan}, TexelCase{8, 8, dark},
                                         TexelCase{31, 31, dark}, TexelCase{7, 7, dark},
                                         TexelCase{7, 8, cyan}, TexelCase{0, 31, cyan},
                                         TexelCase{31, 0, cyan}, TexelCase{16, 16, dark}));

TEST(Board, IsFourByFourSquaresOfEightTexels)
{
    int bright = 0;
    for (int i = 0; i < checkerSize; i++)
        for (int j = 0; j < checkerSize; j++) {
            const bool odd = (i / 8 + j / 8) % 2 == 1;
            const Rgba t = texel(i, j);
            ASSERT_TRUE(same(t, odd ? cyan : dark)) << "texel (" << i << ", " << j << ")";
            bright += odd;
        }
    EXPECT_EQ(bright, checkerSize * checkerSize / 2);
}

} // namespace
