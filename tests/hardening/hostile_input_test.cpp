// Hostile console input against the real program: huge tokens, binary and NUL
// bytes, out-of-range numbers and closed or empty standard streams. Without a
// display each run must end in GLUT's own error after the prompts, with no
// more memory than a normal run; with one, it must open its window where the
// answers say and still report clicks and quit.
#include "harness.h"
#include "menu.h"
#include "streams.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string prompts = "Please enter the x-position(1-500 max): "
                            "Please enter the y-position(1-200 max): "
                            "Please enter window size(100-500): ";

const std::size_t mib = 1 << 20;

// one binary token with no whitespace byte in it, from a fixed seed
std::string binaryToken(std::size_t size)
{
    std::mt19937 random(20261211);
    // it must not start like a number, so its value is 0
    std::string token = "\x9b";
    while (token.size() < size) {
        auto byte = static_cast<unsigned char>(random() & 0xff);
        if (byte == ' ' || (byte >= '\t' && byte <= '\r'))
            byte = 0x80;
        token += static_cast<char>(byte);
    }
    return token;
}

struct InputCase {
    const char *name;
    std::string (*input)(); // made when the case runs: some are large
    Stream in, out, err;
    int x, y, size; // the answers as the program must convert them
    int clicks;     // left clicks before Quit, with a display
};

std::ostream &operator<<(std::ostream &os, const InputCase &c)
{
    return os << c.name;
}

const InputCase cases[] = {
    {"Normal", [] { return std::string("10 20 150\n"); }, Stream::Pipe, Stream::Pipe, Stream::Pipe,
     10, 20, 150, 1},
    {"MibToken", [] { return std::string(mib, '7') + " 20 150\n"; }, Stream::Pipe, Stream::Pipe,
     Stream::Pipe, INT_MAX, 20, 150, 1},
    {"HundredMibToken", [] { return "-" + std::string(100 * mib, '9') + " 30 160\n"; },
     Stream::Pipe, Stream::Pipe, Stream::Pipe, INT_MIN, 30, 160, 1},
    {"BinaryBytes", [] { return binaryToken(64 * std::size_t{1024}) + " 40 170\n"; }, Stream::Pipe,
     Stream::Pipe, Stream::Pipe, 0, 40, 170, 1},
    {"NulBytes",
     [] {
         return std::string("12\0"
                            "99 \0\0 160\n",
                            13);
     },
     Stream::Pipe, Stream::Pipe, Stream::Pipe, 12, 0, 160, 1},
    {"TwentyDigits", [] { return std::string("12345678901234567890 -12345678901234567890 150\n"); },
     Stream::Pipe, Stream::Pipe, Stream::Pipe, INT_MAX, INT_MIN, 150, 1},
    {"JustPastInt", [] { return std::string("2147483648 -2147483649 150\n"); }, Stream::Pipe,
     Stream::Pipe, Stream::Pipe, INT_MAX, INT_MIN, 150, 1},
    {"LoneSigns", [] { return std::string("- --5 150\n"); }, Stream::Pipe, Stream::Pipe,
     Stream::Pipe, 0, 0, 150, 1},
    {"LonePlus", [] { return std::string("+ 25 +150\n"); }, Stream::Pipe, Stream::Pipe,
     Stream::Pipe, 0, 25, 150, 1},
    {"StdinDevNull", [] { return std::string(); }, Stream::DevNull, Stream::Pipe, Stream::Pipe, 0,
     0, 0, 1},
    {"StdinClosed", [] { return std::string(); }, Stream::Closed, Stream::Pipe, Stream::Pipe, 0, 0,
     0, 1},
    // enough reports to overflow stdout's buffer more than once
    {"StdoutClosed", [] { return std::string("10 20 150\n"); }, Stream::Pipe, Stream::Closed,
     Stream::Pipe, 10, 20, 150, 600},
    {"StderrClosed", [] { return std::string("10 20 150\n"); }, Stream::Pipe, Stream::Pipe,
     Stream::Closed, 10, 20, 150, 600},
    {"AllButStdinClosed", [] { return std::string("10 20 150\n"); }, Stream::Pipe, Stream::Closed,
     Stream::Closed, 10, 20, 150, 600},
};

Child startProgram(const InputCase &c, const std::string &display)
{
    Child child = spawnChild({CHECKERCUBE_BINARY}, display, c.in, c.out, c.err);
    if (c.in == Stream::Pipe) {
        EXPECT_TRUE(writeInput(child, c.input(), 120))
            << "the program stopped taking input before its answers were written";
        closeInput(child);
    }
    return child;
}

// what one of its descriptors refers to, for failure messages
std::string descriptorTarget(pid_t pid, int fd)
{
    char target[256] = "";
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "(closed)";
}

long normalPeakKiB = 0;

class HostileInput : public testing::TestWithParam<InputCase> {
  protected:
    static void SetUpTestSuite()
    {
        // a normal run's peak, the bound for every other run without a display
        Child normal =
            spawnChild({CHECKERCUBE_BINARY}, "", Stream::Pipe, Stream::Pipe, Stream::Pipe);
        writeInput(normal, "10 20 150\n", 30);
        closeInput(normal);
        if (waitExit(normal, 60))
            normalPeakKiB = normal.usage.ru_maxrss;
        killChild(normal);
    }
};

const char *const title = "Checker Cube";

TEST_P(HostileInput, WithoutDisplayEndsInGlutsErrorAfterThePrompts)
{
    const InputCase &c = GetParam();
    ASSERT_GT(normalPeakKiB, 0) << "the normal run without a display did not end";
    Child child = startProgram(c, "");
    const bool ended = waitExit(child, 120);
    if (!ended)
        killChild(child);
    ASSERT_TRUE(ended) << "still running after 120 s; stdout so far: \"" << child.outText << "\"";
    EXPECT_TRUE(WIFEXITED(child.status))
        << "expected a normal exit, observed " << harness::describeStatus(child.status);
    EXPECT_NE(WEXITSTATUS(child.status), 0) << "GLUT cannot have opened a display";
    if (c.out == Stream::Pipe) {
        EXPECT_EQ(child.outText, prompts);
    }
    if (c.err == Stream::Pipe) {
        EXPECT_NE(child.errText.find("display"), std::string::npos)
            << "expected GLUT's error about the display, observed stderr \"" << child.errText
            << "\"";
    }
#ifndef CHECKERCUBE_SANITIZED
    // under ASan the peak measures the sanitizer (shadow memory, quarantine,
    // the preloaded GL driver), which alone varies by more than 1 MiB
    EXPECT_LE(child.usage.ru_maxrss, normalPeakKiB + 1024)
        << "expected peak RSS within 1 MiB of a normal run's " << normalPeakKiB << " KiB, observed "
        << child.usage.ru_maxrss << " KiB";
#endif
    std::printf("%s without display: %s, peak RSS %ld KiB (normal run %ld KiB)\n", c.name,
                harness::describeStatus(child.status).c_str(), child.usage.ru_maxrss,
                normalPeakKiB);
}

TEST_P(HostileInput, WithDisplayOpensTheAnsweredWindowAndStillQuits)
{
    const InputCase &c = GetParam();
    Display *dpy = harness::display();
    Child child = startProgram(c, harness::displayName());

    const Window w = harness::findWindow(dpy, title, 60000);
    if (!w) {
        waitExit(child, 1);
        killChild(child);
        FAIL() << "no window within 60 s; "
               << (child.exited ? harness::describeStatus(child.status) : "still running")
               << "; stdout " << harness::printable(child.outText) << " stderr "
               << harness::printable(child.errText);
    }
    const harness::Geometry g = harness::geometry(dpy, w);
    // GLUT uses a position only when neither value is negative, and a size
    // only when it is positive; the others are GLUT's own choice
    if (c.x >= 0 && c.y >= 0 && c.x < 600 && c.y < 400) {
        EXPECT_EQ(g.x, c.x) << "expected window x " << c.x << " observed " << g.x;
        EXPECT_EQ(g.y, c.y) << "expected window y " << c.y << " observed " << g.y;
    }
    if (c.size > 0) {
        EXPECT_EQ(g.width, c.size) << "expected width " << c.size << " observed " << g.width;
        EXPECT_EQ(g.height, c.size) << "expected height " << c.size << " observed " << g.height;
    }

    for (int i = 0; i < c.clicks; i++)
        harness::click(dpy, w, 10, 20, harness::leftButton);
    const std::string fds = "fd 0 " + descriptorTarget(child.pid, 0) + ", fd 1 " +
                            descriptorTarget(child.pid, 1) + ", fd 2 " +
                            descriptorTarget(child.pid, 2);
    if (!chooseMenuEntry(dpy, w, 30, 30, 1, 20000)) {
        killChild(child);
        FAIL() << "after " << c.clicks << " clicks the menu did not open and close: the program "
               << "no longer handles events; its descriptors: " << fds << "; "
               << harness::lastError();
    }
    const bool ended = waitExit(child, 30);
    if (!ended)
        killChild(child);
    ASSERT_TRUE(ended) << "Quit did not end the program within 30 s after " << c.clicks
                       << " clicks; stderr " << harness::printable(child.errText);
    EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0)
        << "expected exit 0 from Quit, observed " << harness::describeStatus(child.status)
        << "; stderr " << harness::printable(child.errText);
    if (c.out == Stream::Pipe) {
        std::string reports;
        for (int i = 0; i < c.clicks; i++)
            reports += "Mouse Click! 10,20\n";
        EXPECT_EQ(child.outText, prompts + reports);
    }
    std::printf("%s with display: window %dx%d at %d,%d; %s after %d clicks\n", c.name, g.width,
                g.height, g.x, g.y, harness::describeStatus(child.status).c_str(), c.clicks);
    // the next case must not find this window
    harness::waitWindowGone(dpy, title, 10000);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<InputCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
