// Faults under the running program: its X server dies, it is sent SIGTERM,
// or a window manager asks its window to close. Each must end it promptly and
// without a crash signal; the status each gives is printed.
#include "harness.h"
#include "streams.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <csignal>
#include <string>
#include <sys/wait.h>

namespace {

enum class Fault { ServerDies, Sigterm, WindowManagerClose };

struct FaultCase {
    const char *name;
    Fault fault;
    bool (*expected)(int status);
    const char *expectedText;
};

std::ostream &operator<<(std::ostream &os, const FaultCase &c)
{
    return os << c.name;
}

// Xlib's handler for a lost connection exits with a failure status
bool failedExit(int status)
{
    return WIFEXITED(status) && WEXITSTATUS(status) != 0;
}

// the program keeps SIGTERM's default action
bool terminated(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

// GLUT's default on a window close is to exit
bool exited(int status)
{
    return WIFEXITED(status);
}

bool crashSignal(int status)
{
    if (!WIFSIGNALED(status))
        return false;
    const int sig = WTERMSIG(status);
    return sig == SIGSEGV || sig == SIGABRT || sig == SIGBUS || sig == SIGFPE || sig == SIGILL ||
           sig == SIGTRAP || sig == SIGSYS;
}

class Faults : public testing::TestWithParam<FaultCase> {};

TEST_P(Faults, EndTheProgramWithoutHangOrCrash)
{
    const FaultCase &c = GetParam();
    // a server of this test's own, since one of the faults kills it
    harness::Xvfb server;
    ASSERT_TRUE(harness::startXvfb(server));
    Display *dpy = XOpenDisplay(server.name.c_str());
    ASSERT_NE(dpy, nullptr);
    Child child =
        spawnChild({CHECKERCUBE_BINARY}, server.name, Stream::Pipe, Stream::Pipe, Stream::Pipe);
    writeInput(child, "20 30 160\n", 30);
    closeInput(child);
    const Window w = harness::findWindow(dpy, "Checker Cube", 60000);
    if (w) {
        // let it run a while before the fault
        harness::click(dpy, w, 5, 6, harness::leftButton);
        waitExit(child, 1);
        switch (c.fault) {
        case Fault::ServerDies:
            XCloseDisplay(dpy);
            dpy = nullptr;
            kill(server.pid, SIGKILL);
            break;
        case Fault::Sigterm:
            kill(child.pid, SIGTERM);
            break;
        case Fault::WindowManagerClose:
            harness::sendDeleteWindow(dpy, w);
            break;
        }
    }
    const bool ended = w && waitExit(child, 30);
    if (!ended)
        killChild(child);
    if (dpy)
        XCloseDisplay(dpy);
    harness::stopXvfb(server);
    ASSERT_TRUE(w) << "no window; " << harness::lastError() << "; stderr "
                   << harness::printable(child.errText);
    ASSERT_TRUE(ended) << "still running 30 s after the fault; stderr "
                       << harness::printable(child.errText);
    EXPECT_FALSE(crashSignal(child.status))
        << "expected no crash signal, observed " << harness::describeStatus(child.status)
        << "; stderr " << harness::printable(child.errText);
    EXPECT_TRUE(c.expected(child.status))
        << "expected " << c.expectedText << ", observed " << harness::describeStatus(child.status);
    std::printf(
        "%s: %s; stdout %s; stderr %s\n", c.name, harness::describeStatus(child.status).c_str(),
        harness::printable(child.outText).c_str(), harness::printable(child.errText).c_str());
}

const FaultCase faultCases[] = {
    {"ServerDies", Fault::ServerDies, failedExit, "an exit with a failure status"},
    {"Sigterm", Fault::Sigterm, terminated, "death by SIGTERM"},
    {"WindowManagerClose", Fault::WindowManagerClose, exited, "a normal exit"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Faults, testing::ValuesIn(faultCases),
                         [](const testing::TestParamInfo<FaultCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
