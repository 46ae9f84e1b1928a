// A long run under Xvfb with clicks and menu openings spread through it: the
// resident memory must not grow after warm-up, each click must still be
// reported at once on a terminal, and Quit must still give status 0.
// GoogleTest first: Xlib defines macros (None, Bool) that its names use
#include <gtest/gtest.h>

#include "xsession.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace {

double now()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// clicks at window point (x, y) and waits for its report; the delay in
// seconds, or a negative value if it did not come within timeout
double clickAndTime(Display *dpy, Child &child, const WindowInfo &window, int x, int y,
                    double timeout)
{
    const std::string report = "Mouse Click! " + std::to_string(x) + "," + std::to_string(y) + "\n";
    const std::size_t before = child.outText.size();
    const double start = now();
    clickAt(dpy, window.x + x, window.y + y, Button1);
    for (;;) {
        drainOutput(child);
        if (child.outText.find(report, before) != std::string::npos)
            return now() - start;
        if (now() - start > timeout)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(LongRun, MemoryStaysFlatAndClicksAndQuitStillWork)
{
    const double seconds = CHECKERCUBE_LONG_RUN_SECONDS;
    const double warmUp = 8;
    Xserver server;
    ASSERT_TRUE(startXserver(server));
    Display *dpy = XOpenDisplay(server.display.c_str());
    ASSERT_NE(dpy, nullptr);
    // on a terminal each report must reach it the moment it is written
    Child child =
        spawnChild({CHECKERCUBE_BINARY}, server.display, Stream::Pipe, Stream::Pty, Stream::Pipe);
    writeInput(child, "100 80 200\n", 30);
    closeInput(child);
    WindowInfo window;
    if (!findWindow(dpy, windowTitle, 60, window)) {
        killChild(child);
        XCloseDisplay(dpy);
        stopXserver(server);
        FAIL() << "no window; stderr \"" << child.errText << "\"";
    }

    const double start = now();
    long baseline = -1, last = -1, peak = -1;
    int clicks = 0, menus = 0, slow = 0;
    double worst = 0;
    for (int k = 0; now() - start < seconds; k++) {
        const int x = 5 + (k * 37) % 190, y = 5 + (k * 53) % 190;
        const double delay = clickAndTime(dpy, child, window, x, y, 5);
        clicks++;
        if (delay < 0) {
            slow++;
            ADD_FAILURE() << "click " << clicks << " at " << x << "," << y
                          << " was not reported within 5 s";
        }
        worst = std::max(worst, delay);
        if (k % 5 == 2) {
            EXPECT_TRUE(openAndDismissMenu(dpy, window, x, y, 10))
                << "menu " << menus + 1 << " did not open and close at " << x << "," << y;
            menus++;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        last = residentKiB(child.pid);
        if (baseline < 0 && now() - start >= warmUp)
            baseline = last;
        if (baseline >= 0)
            peak = std::max(peak, last);
        if (slow > 3 || last < 0)
            break;
    }
    const double lastDelay = clickAndTime(dpy, child, window, 17, 29, 5);
    const bool quit = chooseMenuEntry(dpy, window, 40, 40, 0, 20);
    const bool ended = quit && waitExit(child, 30);
    if (!ended)
        killChild(child);
    XCloseDisplay(dpy);
    stopXserver(server);

    std::printf("long run %.0f s: %d clicks, %d menus, worst report delay %.3f s, last %.3f s; "
                "RSS after warm-up %ld KiB, peak %ld KiB, at the end %ld KiB; %s\n",
                seconds, clicks, menus, worst, lastDelay, baseline, peak, last,
                ended ? describeStatus(child.status).c_str() : "did not end");
    ASSERT_GT(baseline, 0) << "the run ended before warm-up was over";
    EXPECT_LT(last - baseline, 256)
        << "expected RSS growth after warm-up < 256 KiB, observed " << last - baseline
        << " KiB (from " << baseline << " to " << last << ")";
    EXPECT_GE(lastDelay, 0) << "the last click was not reported within 5 s";
    EXPECT_LT(lastDelay, 1.0) << "expected the last report at once, observed after " << lastDelay
                              << " s";
    ASSERT_TRUE(quit) << "the menu did not open and close for Quit";
    ASSERT_TRUE(ended) << "Quit did not end the program within 30 s";
    EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0)
        << "expected exit 0 from Quit, observed " << describeStatus(child.status);
}

} // namespace
