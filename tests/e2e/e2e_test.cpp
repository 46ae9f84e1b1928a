// The real checkercube binary on a private Xvfb: its console on a terminal or
// on pipes, its window found, clicked through XTest and captured.
#include "harness.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

const std::string program = CHECKERCUBE_PATH;
const char *const title = "Checker Cube";
const std::string askX = "Please enter the x-position(1-500 max): ";
const std::string askY = "Please enter the y-position(1-200 max): ";
const std::string askSize = "Please enter window size(100-500): ";
const std::string allPrompts = askX + askY + askSize;

// generous: other test binaries share the two cores
constexpr int wait = 10000;
// how long "nothing more arrives" is watched for
constexpr int quiet = 300;

class EndToEnd : public ::testing::Test {
  protected:
    Display *dpy = harness::display();
    harness::Child app;

    void TearDown() override
    {
        harness::stop(app);
        // the next test must not find this program's window
        EXPECT_TRUE(harness::waitWindowGone(dpy, title, wait)) << harness::lastError();
    }

    // Starts the program, answers the dialogue and returns its window.
    Window start(const std::string &answers, harness::Console console = harness::Console::pty,
                 const std::vector<std::string> &args = {},
                 const std::vector<std::string> &env = {})
    {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_TRUE(harness::spawn(app, argv, console, env)) << harness::lastError();
        if (console == harness::Console::pty) {
            EXPECT_TRUE(harness::readUntil(app, askX, wait)) << harness::lastError();
        }
        harness::writeText(app, answers);
        const Window w = harness::findWindow(dpy, title, wait);
        EXPECT_NE(w, 0u) << harness::lastError() << "; console: " << harness::printable(app.seen);
        // on a pipe the prompts wait in the program's buffer
        if (console == harness::Console::pty) {
            EXPECT_TRUE(harness::readUntil(app, askSize, wait)) << harness::lastError();
        }
        return w;
    }

    // The output must grow by exactly this, and nothing else, within the wait.
    void expectNext(std::size_t from, const std::string &text)
    {
        const bool arrived = harness::readUntil(app, text, wait, from);
        EXPECT_TRUE(arrived) << harness::lastError();
        if (arrived) {
            EXPECT_EQ(app.seen.substr(from), text)
                << "expected " << harness::printable(text) << " observed "
                << harness::printable(app.seen.substr(from));
        }
    }

    // Chooses a menu entry (1 to 6) with a right press that opens the menu
    // and a left click on the entry's row.
    void choose(Window w, int entry)
    {
        harness::press(dpy, w, 100, 100, harness::rightButton);
        const Window menu = harness::findPopup(dpy, wait);
        ASSERT_NE(menu, 0u) << harness::lastError();
        harness::release(dpy, w, 100, 100, harness::rightButton);
        const harness::Geometry g = harness::geometry(dpy, menu);
        ASSERT_GT(g.height, 0);
        // six rows of equal height
        const int y = (2 * entry - 1) * g.height / 12;
        harness::press(dpy, menu, g.width / 2, y, harness::leftButton);
        harness::release(dpy, menu, g.width / 2, y, harness::leftButton);
    }

    // A later capture must differ from a first one while the cube spins.
    void expectAnimating(Window w)
    {
        const harness::Image first = harness::capture(dpy, w);
        ASSERT_FALSE(first.pixels.empty()) << harness::lastError();
        int changed = 0;
        for (const long long end = harness::nowMs() + wait; changed <= 100;) {
            ASSERT_LT(harness::nowMs(), end)
                << "at most " << changed << " pixels changed in " << wait << " ms";
            harness::sleepMs(50);
            const harness::Image later = harness::capture(dpy, w);
            ASSERT_EQ(later.pixels.size(), first.pixels.size());
            changed = 0;
            for (std::size_t k = 0; k < first.pixels.size(); k++)
                changed += !harness::near(first.pixels[k], later.pixels[k], 0);
        }
    }
};

// ---- the dialogue -----------------------------------------------------------

TEST_F(EndToEnd, EachPromptAppearsByteForByteBeforeItsAnswer)
{
    ASSERT_TRUE(harness::spawn(app, {program}, harness::Console::pty)) << harness::lastError();
    const std::string answers[3] = {"50\n", "60\n", "300\n"};
    const std::string prompts[3] = {askX, askY, askSize};
    std::string expected;
    for (int k = 0; k < 3; k++) {
        expectNext(expected.size(), prompts[k]);
        expected += prompts[k];
        // it waits for the answer: nothing more comes
        EXPECT_EQ(harness::readFor(app, quiet), 0u)
            << "after prompt " << k + 1 << " observed " << harness::printable(app.seen);
        harness::writeText(app, answers[k]);
    }
    const Window w = harness::findWindow(dpy, title, wait);
    ASSERT_NE(w, 0u) << harness::lastError();
    EXPECT_EQ(app.seen, expected) << "observed " << harness::printable(app.seen);
}

TEST_F(EndToEnd, BlankLinesAreNotAnswers)
{
    ASSERT_TRUE(harness::spawn(app, {program}, harness::Console::pty)) << harness::lastError();
    expectNext(0, askX);
    harness::writeText(app, "\n\n  \n");
    EXPECT_EQ(harness::readFor(app, quiet), 0u) << "observed " << harness::printable(app.seen);
    harness::writeText(app, "50\n");
    expectNext(askX.size(), askY);
}

// ---- where the window goes ----------------------------------------------------

struct Placement {
    const char *name;
    const char *typed; // after the first prompt
    bool endInput;     // then end the input
    int x, y, size;    // size -1: GLUT's own choice
};

const Placement placements[] = {
    {"OneLine", "50 60 300\n", false, 50, 60, 300},
    {"OnePerLine", "120\n200\n100\n", false, 120, 200, 100},
    {"XBeyondThePromptedRange", "700 10 250\n", false, 700, 10, 250},
    {"SignsAndTrailingLetters", "+7 42abc 150\n", false, 7, 42, 150},
    {"SizeReusesYWhenInputEnds", "30 120\n", true, 30, 120, 120},
    {"YAndSizeReuseXWhenInputEnds", "90\n", true, 90, 90, 90},
    // X has no window of width 0; freeglut takes a size of 0 as "not given"
    // and uses its own default, so a square window of some positive size
    // appears and the program runs on
    {"SizeZero", "20 30 0\n", false, 20, 30, -1},
};

void PrintTo(const Placement &c, std::ostream *os)
{
    *os << harness::printable(c.typed) << (c.endInput ? " then end of input" : "");
}

class Placements : public EndToEnd, public ::testing::WithParamInterface<Placement> {};

TEST_P(Placements, WindowTakesTheAnsweredPlaceAndSizeAndTheTitle)
{
    const Placement &c = GetParam();
    ASSERT_TRUE(harness::spawn(app, {program}, harness::Console::pty)) << harness::lastError();
    ASSERT_TRUE(harness::readUntil(app, askX, wait)) << harness::lastError();
    harness::writeText(app, c.typed);
    if (c.endInput)
        harness::closeInput(app);
    const Window w = harness::findWindow(dpy, title, wait);
    ASSERT_NE(w, 0u) << harness::lastError() << "; console " << harness::printable(app.seen);
    EXPECT_TRUE(harness::readUntil(app, askSize, wait)) << harness::lastError();
    const harness::Geometry g = harness::geometry(dpy, w);
    EXPECT_EQ(harness::title(dpy, w), title);
    EXPECT_EQ(g.x, c.x);
    EXPECT_EQ(g.y, c.y);
    if (c.size >= 0) {
        EXPECT_EQ(g.width, c.size);
        EXPECT_EQ(g.height, c.size);
    } else {
        EXPECT_GT(g.width, 0);
        EXPECT_EQ(g.width, g.height);
    }
    // every prompt is written, whether the answer was waiting or reused
    EXPECT_EQ(app.seen, allPrompts) << "observed " << harness::printable(app.seen);
    EXPECT_TRUE(harness::running(app)) << harness::describeStatus(app.status);
    expectAnimating(w);
}

INSTANTIATE_TEST_SUITE_P(Answers, Placements, ::testing::ValuesIn(placements),
                         [](const ::testing::TestParamInfo<Placement> &info) {
                             return std::string(info.param.name);
                         });

// ---- the mouse ----------------------------------------------------------------

struct ButtonStep {
    unsigned button;
    bool down;
    int x, y;
    const char *report; // what the step writes
};

// Steps that write nothing are followed by one that writes, so "nothing" is
// checked without a pause: the later report must come alone.
const ButtonStep buttonSteps[] = {
    {harness::leftButton, true, 10, 20, "Mouse Click! 10,20\n"},
    {harness::leftButton, false, 10, 20, ""},
    {harness::middleButton, true, 60, 70, ""},
    {harness::middleButton, false, 60, 70, ""},
    {harness::leftButton, true, 0, 0, "Mouse Click! 0,0\n"},
    {harness::leftButton, false, 5, 5, ""},
    {harness::leftButton, true, 299, 1, "Mouse Click! 299,1\n"},
    {harness::leftButton, false, 299, 1, ""},
};

TEST_F(EndToEnd, LeftPressesAreReportedAtOnceAndNothingElseIs)
{
    const Window w = start("50 60 300\n");
    ASSERT_NE(w, 0u);
    std::size_t from = app.seen.size();
    EXPECT_EQ(app.seen, allPrompts);
    std::string pending;
    for (const ButtonStep &s : buttonSteps) {
        (s.down ? harness::press : harness::release)(dpy, w, s.x, s.y, s.button);
        if (*s.report) {
            // on a terminal the line arrives while the program runs on
            expectNext(from, s.report);
            from = app.seen.size();
        }
    }
    EXPECT_TRUE(harness::running(app)) << harness::describeStatus(app.status);
}

// ---- the menu -------------------------------------------------------------------

TEST_F(EndToEnd, RightButtonOpensAMenuAndWritesNothing)
{
    const Window w = start("50 60 300\n");
    ASSERT_NE(w, 0u);
    const std::size_t from = app.seen.size();
    harness::press(dpy, w, 100, 100, harness::rightButton);
    const Window menu = harness::findPopup(dpy, wait);
    ASSERT_NE(menu, 0u) << harness::lastError();
    // it opens at the pointer: window (100, 100) is root (150, 160)
    const harness::Geometry g = harness::geometry(dpy, menu);
    EXPECT_NEAR(g.x, 150, 2);
    EXPECT_NEAR(g.y, 160, 2);
    EXPECT_GT(g.height, g.width / 2) << "six entries stack";
    harness::release(dpy, w, 100, 100, harness::rightButton);
    EXPECT_EQ(harness::readFor(app, quiet), 0u)
        << "observed " << harness::printable(app.seen.substr(from));
    EXPECT_TRUE(harness::running(app));
}

class PlaceholderEntries : public EndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(PlaceholderEntries, LeaveTheProgramRunningSilentAndAnimating)
{
    const Window w = start("50 60 300\n");
    ASSERT_NE(w, 0u);
    const std::size_t from = app.seen.size();
    choose(w, GetParam());
    EXPECT_TRUE(harness::waitPopupGone(dpy, wait)) << harness::lastError();
    // a report after the choice must come alone: the choice wrote nothing
    harness::click(dpy, w, 10, 20, harness::leftButton);
    expectNext(from, "Mouse Click! 10,20\n");
    EXPECT_TRUE(harness::running(app)) << harness::describeStatus(app.status);
    expectAnimating(w);
}

INSTANTIATE_TEST_SUITE_P(Entries, PlaceholderEntries, ::testing::Values(2, 3, 4, 5, 6),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return "entry" + std::to_string(info.param);
                         });

TEST_F(EndToEnd, QuitEndsTheProgramWithStatusZero)
{
    const Window w = start("50 60 300\n");
    ASSERT_NE(w, 0u);
    choose(w, 1);
    ASSERT_TRUE(harness::waitExit(app, wait)) << harness::lastError();
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0)
        << harness::describeStatus(app.status);
    EXPECT_EQ(app.seen, allPrompts) << "observed " << harness::printable(app.seen);
}

// ---- the console on a pipe ------------------------------------------------------

// On a pipe the output is fully buffered: nothing comes until the program
// ends, then everything, in order.
TEST_F(EndToEnd, OnAPipeReportsAppearWhenQuitEndsTheProgram)
{
    const Window w = start("50 60 300\n", harness::Console::pipes);
    ASSERT_NE(w, 0u);
    harness::click(dpy, w, 10, 20, harness::leftButton);
    harness::click(dpy, w, 7, 8, harness::leftButton);
    EXPECT_EQ(harness::readFor(app, quiet), 0u) << "observed " << harness::printable(app.seen);
    choose(w, 1);
    ASSERT_TRUE(harness::waitExit(app, wait)) << harness::lastError();
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0)
        << harness::describeStatus(app.status);
    const std::string expected = allPrompts + "Mouse Click! 10,20\nMouse Click! 7,8\n";
    EXPECT_EQ(app.seen, expected) << "expected " << harness::printable(expected) << " observed "
                                  << harness::printable(app.seen);
}

// A window manager's close goes to GLUT, whose default is to exit the
// process normally, which writes out what is buffered.
TEST_F(EndToEnd, WindowManagerCloseEndsItThroughGlutAndFlushesReports)
{
    const Window w = start("50 60 300\n", harness::Console::pipes);
    ASSERT_NE(w, 0u);
    harness::click(dpy, w, 10, 20, harness::leftButton);
    // X delivers the press before the close: both come through this connection
    harness::sendDeleteWindow(dpy, w);
    ASSERT_TRUE(harness::waitExit(app, wait)) << harness::lastError();
    EXPECT_TRUE(WIFEXITED(app.status)) << harness::describeStatus(app.status);
    const std::string expected = allPrompts + "Mouse Click! 10,20\n";
    EXPECT_EQ(app.seen.substr(0, expected.size()), expected)
        << "expected " << harness::printable(expected) << " observed "
        << harness::printable(app.seen);
}

// ---- GLUT's command line and failures ----------------------------------------------

TEST_F(EndToEnd, WithoutADisplayThePromptsComeThenGlutsErrorWithoutACrash)
{
    ASSERT_TRUE(harness::spawn(app, {program}, harness::Console::pty, {"DISPLAY"}))
        << harness::lastError();
    expectNext(0, askX);
    harness::writeText(app, "50 60 300\n");
    ASSERT_TRUE(harness::waitExit(app, wait)) << harness::lastError();
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) != 0)
        << harness::describeStatus(app.status);
    ASSERT_EQ(app.seen.substr(0, allPrompts.size()), allPrompts)
        << "observed " << harness::printable(app.seen);
    const std::string error = app.seen.substr(allPrompts.size());
    EXPECT_NE(error.find("display"), std::string::npos)
        << "expected GLUT's complaint about the display, observed " << harness::printable(error);
}

// The option names a display that is not there: nothing tries it before the
// dialogue ends, then GLUT fails on that very name.
TEST_F(EndToEnd, DisplayOptionReachesGlutOnlyAfterTheDialogue)
{
    const std::string missing = ":64999";
    ASSERT_TRUE(harness::spawn(app, {program, "-display", missing}, harness::Console::pty))
        << harness::lastError();
    expectNext(0, askX);
    harness::writeText(app, "50\n");
    expectNext(askX.size(), askY);
    harness::writeText(app, "60\n");
    expectNext(askX.size() + askY.size(), askSize);
    EXPECT_EQ(harness::readFor(app, quiet), 0u) << "observed " << harness::printable(app.seen);
    EXPECT_TRUE(harness::running(app));
    harness::writeText(app, "300\n");
    ASSERT_TRUE(harness::waitExit(app, wait)) << harness::lastError();
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) != 0)
        << harness::describeStatus(app.status);
    const std::string error = app.seen.substr(allPrompts.size());
    EXPECT_NE(error.find(missing), std::string::npos)
        << "expected GLUT's complaint about " << missing << ", observed "
        << harness::printable(error);
}

struct Options {
    const char *name;
    std::vector<std::string> args; // "@" stands for the test's display
    const char *typed;
    int x, y, size;
};

const Options optionCases[] = {
    {"DisplayOption", {"-display", "@"}, "40 50 200\n", 40, 50, 200},
    {"AnswersWinOverGeometry",
     {"-display", "@", "-geometry", "320x240+300+150"},
     "40 50 200\n",
     40,
     50,
     200},
    {"GeometryFirst", {"-geometry", "100x100+0+0", "-display", "@"}, "5 6 150\n", 5, 6, 150},
};

void PrintTo(const Options &c, std::ostream *os)
{
    for (const std::string &a : c.args)
        *os << a << " ";
    *os << "answers " << harness::printable(c.typed);
}

class CommandLine : public EndToEnd, public ::testing::WithParamInterface<Options> {};

// DISPLAY is removed, so only the option can lead GLUT to the server.
TEST_P(CommandLine, GlutOptionsAreHonouredAndAnswersDecidePlaceAndSize)
{
    const Options &c = GetParam();
    std::vector<std::string> args = c.args;
    for (std::string &a : args)
        if (a == "@")
            a = harness::displayName();
    const Window w = start(c.typed, harness::Console::pty, args, {"DISPLAY"});
    ASSERT_NE(w, 0u);
    const harness::Geometry g = harness::geometry(dpy, w);
    EXPECT_EQ(g.x, c.x);
    EXPECT_EQ(g.y, c.y);
    EXPECT_EQ(g.width, c.size);
    EXPECT_EQ(g.height, c.size);
    EXPECT_EQ(app.seen, allPrompts) << "observed " << harness::printable(app.seen);
}

INSTANTIATE_TEST_SUITE_P(Options, CommandLine, ::testing::ValuesIn(optionCases),
                         [](const ::testing::TestParamInfo<Options> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
