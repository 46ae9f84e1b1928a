// Frames drawn by the scene code into a real GL context on a private Xvfb,
// read back and probed at points whose colour follows from the cube's
// geometry, the view box, the rotation maths and the board alone.
#include "harness.h"
#include "scene.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int side = 400;
// decal mode with nearest sampling hands texel colours through untouched, and
// an 8-bit visual stores them exactly, so the colours must match exactly
constexpr int tolerance = 0;

const harness::Rgb black{0, 0, 0};
const harness::Rgb dark{1, 0, 0};
const harness::Rgb bright{0, 255, 255};

bool exposed = false;
// idle ticks given so far; the angle runs 0, 1.5, ..., 360 and then 0 again
int ticks = 0;
Window window = 0;
constexpr int ticksPerTurn = 241;

void onExpose()
{
    exposed = true;
}

// A 400 x 400 GLUT window on the private server, with the scene set up.
class Render : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        static bool ready = false;
        if (ready)
            return;
        static std::string display = harness::displayName();
        static char name[] = "render_tests", option[] = "-display";
        static char *argv[] = {name, option, display.data(), nullptr};
        int argc = 3;
        glutInit(&argc, argv);
        glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
        glutInitWindowSize(side, side);
        glutInitWindowPosition(0, 0);
        glutCreateWindow("render test");
        glutDisplayFunc(onExpose);
        initScene();
        // the front buffer has pixels to read only once the window is mapped
        for (const long long end = harness::nowMs() + 10000; !exposed && harness::nowMs() < end;)
            glutMainLoopEvent();
        ASSERT_TRUE(exposed) << "the window was not exposed within 10 s";
        window = harness::findWindow(harness::display(), "render test", 10000);
        ASSERT_NE(window, 0u) << harness::lastError();
        ready = true;
    }
};

void spinTo(int step)
{
    while (ticks % ticksPerTurn != step) {
        advanceSpin();
        ticks++;
    }
}

double angleOf(int step)
{
    return 1.5 * step;
}

// Draws one frame at the given angle step and scale and reads back the front
// buffer; row 0 is the bottom row, as GL counts.
std::vector<harness::Rgb> frame(int step, float scale)
{
    spinTo(step);
    texScale = scale;
    renderFrame();
    glFinish();
    const harness::Image image = harness::capture(harness::display(), window);
    std::vector<harness::Rgb> pixels(side * side);
    if (image.width != side || image.height != side) {
        ADD_FAILURE() << "capture of " << image.width << "x" << image.height << ": "
                      << harness::lastError();
        return pixels;
    }
    // X rows run down, GL rows up
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++)
            pixels[static_cast<std::size_t>(y * side + x)] = image.at(x, side - 1 - y);
    return pixels;
}

harness::Rgb at(const std::vector<harness::Rgb> &pixels, int x, int y)
{
    return pixels[static_cast<std::size_t>(y * side + x)];
}

// ---- the independent model of the picture ----------------------------------

struct Vec {
    double x, y, z;
};

Vec operator-(Vec a, Vec b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// The cube's corners and the faces' corner orders (a, b, c, d): s runs from
// a to d, t from a to b.
const Vec corners[8] = {{-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1},
                        {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}};
const int faces[6][4] = {{0, 3, 2, 1}, {2, 3, 7, 6}, {0, 4, 7, 3},
                         {1, 2, 6, 5}, {4, 5, 6, 7}, {0, 1, 5, 4}};

// Rotation by degrees about an axis (normalised here), Rodrigues' formula.
Vec rotate(Vec p, double degrees, Vec axis)
{
    const double n = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    const Vec k{axis.x / n, axis.y / n, axis.z / n};
    const double a = degrees * std::acos(-1.0) / 180.0, c = std::cos(a), s = std::sin(a);
    const double dot = k.x * p.x + k.y * p.y + k.z * p.z;
    const Vec cross{k.y * p.z - k.z * p.y, k.z * p.x - k.x * p.z, k.x * p.y - k.y * p.x};
    return {p.x * c + cross.x * s + k.x * dot * (1 - c),
            p.y * c + cross.y * s + k.y * dot * (1 - c),
            p.z * c + cross.z * s + k.z * dot * (1 - c)};
}

// glRotatef about (1,1,1), then (1,0,1), then (0,1,1) multiplies onto the
// matrix, so a corner turns about (0,1,1) first and about (1,1,1) last.
Vec pose(Vec p, double degrees)
{
    p = rotate(p, degrees, {0, 1, 1});
    p = rotate(p, degrees, {1, 0, 1});
    return rotate(p, degrees, {1, 1, 1});
}

harness::Rgb texel(double s, double t)
{
    const int j = static_cast<int>(std::floor(s * 32)) & 31;
    const int i = static_cast<int>(std::floor(t * 32)) & 31;
    return (((i & 8) == 0) != ((j & 8) == 0)) ? bright : dark;
}

// The colour at window point (wx, wy) (GL window coordinates, y up): the
// face nearest the viewer there, textured at scale, or black.
harness::Rgb predict(double degrees, double scale, double wx, double wy)
{
    // the +-2 box maps onto the 400 px window
    const double x = (wx - side / 2.0) / (side / 4.0), y = (wy - side / 2.0) / (side / 4.0);
    bool hit = false;
    double nearest = 0;
    harness::Rgb colour = black;
    for (const int *f : faces) {
        const Vec a = pose(corners[f[0]], degrees), b = pose(corners[f[1]], degrees),
                  d = pose(corners[f[3]], degrees);
        const Vec ed = d - a, eb = b - a;
        const double det = ed.x * eb.y - eb.x * ed.y;
        if (std::fabs(det) < 1e-9)
            continue; // seen edge-on
        const double u = ((x - a.x) * eb.y - eb.x * (y - a.y)) / det;
        const double v = (ed.x * (y - a.y) - (x - a.x) * ed.y) / det;
        if (u < 0 || u > 1 || v < 0 || v > 1)
            continue;
        // the eye looks down -z, so the larger z is in front
        const double z = a.z + u * ed.z + v * eb.z;
        if (!hit || z > nearest) {
            hit = true;
            nearest = z;
            colour = texel(scale * u, scale * v);
        }
    }
    return colour;
}

bool same(harness::Rgb a, harness::Rgb b)
{
    return harness::near(a, b, 0);
}

// The prediction for pixel (px, py), or false where it changes within 2 px,
// so that edge rounding cannot decide the probe.
bool robustPrediction(double degrees, double scale, int px, int py, harness::Rgb &colour)
{
    const double cx = px + 0.5, cy = py + 0.5;
    colour = predict(degrees, scale, cx, cy);
    for (int dx = -2; dx <= 2; dx += 2)
        for (int dy = -2; dy <= 2; dy += 2)
            if (!same(predict(degrees, scale, cx + dx, cy + dy), colour))
                return false;
    return true;
}

std::string where(int x, int y)
{
    return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
}

// ---- tests -------------------------------------------------------------------

// The face on z = 1 at rest covers the centre half of the window, its board
// square (p, q) counted from the bottom left dark when p + q is even.
void expectFrontBoard(const std::vector<harness::Rgb> &pixels, int squares, const char *what)
{
    const double size = 200.0 / squares;
    for (int q = 0; q < squares; q++)
        for (int p = 0; p < squares; p++) {
            const int x = static_cast<int>(100 + (p + 0.5) * size);
            const int y = static_cast<int>(100 + (q + 0.5) * size);
            const harness::Rgb expected = (p + q) % 2 == 0 ? dark : bright;
            const harness::Rgb observed = at(pixels, x, y);
            EXPECT_TRUE(harness::near(observed, expected, tolerance))
                << what << ": square " << p << "," << q << " probe at " << where(x, y)
                << ": expected " << harness::describe(expected) << " observed "
                << harness::describe(observed) << " (tolerance " << tolerance << ")";
        }
}

TEST_F(Render, AtRestTheFrontFaceShowsFourByFourSquaresOf50px)
{
    const auto pixels = frame(0, 1.0f);
    expectFrontBoard(pixels, 4, "angle 0, scale 1");
    // the face's own bottom-left corner, just inside
    EXPECT_TRUE(harness::near(at(pixels, 102, 102), dark, tolerance))
        << "at (102,102): expected " << harness::describe(dark) << " observed "
        << harness::describe(at(pixels, 102, 102));
    // a square is 50 px: probes 3 px either side of the first boundary differ
    EXPECT_TRUE(harness::near(at(pixels, 147, 125), dark, tolerance))
        << "at (147,125) observed " << harness::describe(at(pixels, 147, 125));
    EXPECT_TRUE(harness::near(at(pixels, 153, 125), bright, tolerance))
        << "at (153,125) observed " << harness::describe(at(pixels, 153, 125));
}

TEST_F(Render, AtScaleThreeTheFrontFaceShowsTwelveByTwelveSquares)
{
    expectFrontBoard(frame(0, 3.0f), 12, "angle 0, scale 3");
}

TEST_F(Render, AngleOf360ShowsTheRestPose)
{
    expectFrontBoard(frame(240, 1.0f), 4, "angle 360, scale 1");
}

TEST_F(Render, OutsideTheCubeAtRestIsBlack)
{
    const auto pixels = frame(0, 1.0f);
    int wrong = 0;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            // 1 px clear of the face's edges at 100 and 300
            const bool outside = x < 99 || x > 300 || y < 99 || y > 300;
            if (outside && !harness::near(at(pixels, x, y), black, tolerance) && wrong++ < 10)
                ADD_FAILURE() << "at " << where(x, y) << ": expected " << harness::describe(black)
                              << " observed " << harness::describe(at(pixels, x, y));
        }
    EXPECT_EQ(wrong, 0) << "non-black pixels outside the face";
}

struct Pose {
    int step;
    float scale;
};

void PrintTo(const Pose &pose, std::ostream *os)
{
    *os << "angle " << 1.5 * pose.step << " scale " << pose.scale;
}

class RenderPose : public Render, public ::testing::WithParamInterface<Pose> {};

// Every pixel of any frame is background or one of the two board colours.
TEST_P(RenderPose, OnlyTheThreeColoursAppear)
{
    const Pose pose = GetParam();
    const auto pixels = frame(pose.step, pose.scale);
    int counts[3] = {0, 0, 0}, wrong = 0;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            const harness::Rgb c = at(pixels, x, y);
            if (same(c, black))
                counts[0]++;
            else if (same(c, dark))
                counts[1]++;
            else if (same(c, bright))
                counts[2]++;
            else if (wrong++ < 10)
                ADD_FAILURE() << "angle " << angleOf(pose.step) << " scale " << pose.scale << " at "
                              << where(x, y) << ": expected one of (0,0,0) (1,0,0) "
                              << "(0,255,255) observed " << harness::describe(c);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(counts[1], 0) << "no dark texels drawn";
    EXPECT_GT(counts[2], 0) << "no bright texels drawn";
}

// Pixels well away from any edge show what the rotation maths predicts:
// background outside the silhouette, and on the cube the board square of the
// face nearest the viewer. A different rotation order moves the silhouette
// and the faces.
TEST_P(RenderPose, MatchesTheRotationMathsAwayFromEdges)
{
    const Pose pose = GetParam();
    const double degrees = angleOf(pose.step);
    const auto pixels = frame(pose.step, pose.scale);
    int probes = 0, wrong = 0, kinds[3] = {0, 0, 0};
    for (int y = 2; y < side; y += 6)
        for (int x = 2; x < side; x += 6) {
            harness::Rgb expected;
            if (!robustPrediction(degrees, pose.scale, x, y, expected))
                continue;
            probes++;
            kinds[same(expected, black) ? 0 : same(expected, dark) ? 1 : 2]++;
            const harness::Rgb observed = at(pixels, x, y);
            if (!harness::near(observed, expected, tolerance) && wrong++ < 10)
                ADD_FAILURE() << "angle " << degrees << " scale " << pose.scale << " at "
                              << where(x, y) << ": expected " << harness::describe(expected)
                              << " observed " << harness::describe(observed);
        }
    if (wrong > 0) {
        // the frame as seen, top row first, for a look afterwards
        harness::Image seen;
        seen.width = seen.height = side;
        for (int y = side - 1; y >= 0; y--)
            for (int x = 0; x < side; x++)
                seen.pixels.push_back(at(pixels, x, y));
        const std::string path = "render-step" + std::to_string(pose.step) + ".ppm";
        if (harness::writePpm(seen, path))
            ADD_FAILURE() << "observed frame written to " << path;
    }
    EXPECT_EQ(wrong, 0) << "of " << probes << " probes";
    // the pose must give the probes something to tell apart
    EXPECT_GT(kinds[0], 100);
    EXPECT_GT(kinds[1], 50);
    EXPECT_GT(kinds[2], 50);
}

// 30, 45, 100.5, 217.5 and 358.5 degrees, at both ends of the zoom and between.
INSTANTIATE_TEST_SUITE_P(Angles, RenderPose,
                         ::testing::Values(Pose{20, 1.0f}, Pose{30, 1.0f}, Pose{30, 3.0f},
                                           Pose{67, 2.25f}, Pose{145, 1.5f}, Pose{239, 1.0f}),
                         [](const ::testing::TestParamInfo<Pose> &info) {
                             return "step" + std::to_string(info.param.step) + "_scale" +
                                    std::to_string(static_cast<int>(info.param.scale * 100));
                         });

TEST_F(Render, TexturingIsOffAfterAFrame)
{
    frame(30, 1.0f);
    EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_FALSE);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_NE(textureId, 0u);
    EXPECT_EQ(static_cast<GLuint>(bound), textureId);
}

TEST_F(Render, ViewIsTheTwoUnitOrthographicBox)
{
    frame(0, 1.0f);
    // glOrtho(-2, 2, -2, 2, -2, 2): scale 2 / (right - left) and so on, no shift
    const double expected[16] = {0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, -0.5, 0, 0, 0, 0, 1};
    GLdouble m[16];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    for (int k = 0; k < 16; k++)
        EXPECT_NEAR(m[k], expected[k], 1e-12) << "projection element " << k;
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), GL_TRUE);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], side);
    EXPECT_EQ(viewport[3], side);
}

// Frame after frame the board swells from 1 to about 3 repeats and back. Along
// a row across the face at rest a scale S that is not a quarter gives floor(4 S)
// dark/bright changes, so the count across a face climbs to 12 (scale just over 3), falls to 3
// (scale just under 1) and never jumps by more than one per frame.
TEST_F(Render, ZoomSwellsToAboutThreeAndBack)
{
    spinTo(0);
    texScale = 1.0f;
    std::vector<int> counts;
    for (int k = 0; k < 2 * 82 + 10; k++) {
        renderFrame();
        glFinish();
        const harness::Image image = harness::capture(harness::display(), window);
        ASSERT_EQ(image.width, side) << harness::lastError();
        int changes = 0;
        for (int x = 102; x < 298; x++)
            if (!same(image.at(x, 200), image.at(x + 1, 200)))
                changes++;
        counts.push_back(changes);
    }
    std::string seen;
    int lowest = 99, highest = 0, jumps = 0;
    for (std::size_t k = 0; k < counts.size(); k++) {
        seen += std::to_string(counts[k]) + " ";
        lowest = std::min(lowest, counts[k]);
        highest = std::max(highest, counts[k]);
        if (k > 0 && std::abs(counts[k] - counts[k - 1]) > 1)
            jumps++;
    }
    EXPECT_EQ(highest, 12) << "boundaries per frame: " << seen;
    EXPECT_EQ(lowest, 3) << "boundaries per frame: " << seen;
    EXPECT_EQ(jumps, 0) << "boundaries per frame: " << seen;
}

} // namespace
