// A long run under Xvfb with clicks and menu openings spread through it: the
// resident memory must not grow after warm-up, each click must still be
// reported at once on a terminal, and Quit must still give status 0.
#include "harness.h"
#include "menu.h"
#include "streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace {

// clicks at window pixel (x, y) and waits for its report; the delay in
// milliseconds, or -1 if it did not come within timeoutMs
long long clickAndTime(Display *dpy, harness::Child &app, Window w, int x, int y, int timeoutMs)
{
    const std::string report = "Mouse Click! " + std::to_string(x) + "," + std::to_string(y) + "\n";
    const std::size_t from = app.seen.size();
    const long long start = harness::nowMs();
    harness::click(dpy, w, x, y, harness::leftButton);
    if (!harness::readUntil(app, report, timeoutMs, from))
        return -1;
    return harness::nowMs() - start;
}

TEST(LongRun, MemoryStaysFlatAndClicksAndQuitStillWork)
{
    const long long runMs = CHECKERCUBE_LONG_RUN_SECONDS * 1000LL;
    const long long warmUpMs = 8000;
    Display *dpy = harness::display();
    // on a terminal each report must reach it the moment it is written
    harness::Child app;
    ASSERT_TRUE(harness::spawn(app, {CHECKERCUBE_BINARY}, harness::Console::pty))
        << harness::lastError();
    harness::writeText(app, "100 80 200\n");
    ASSERT_TRUE(harness::readUntil(app, "Please enter window size(100-500): ", 20000))
        << harness::lastError();
    const Window w = harness::findWindow(dpy, "Checker Cube", 60000);
    if (!w) {
        harness::stop(app);
        FAIL() << "no window; " << harness::lastError();
    }

    const long long start = harness::nowMs();
    // (milliseconds into the run, KiB) after each step
    std::vector<std::pair<long long, long>> samples;
    int clicks = 0, menus = 0, missed = 0;
    long long worst = 0;
    for (int k = 0; harness::nowMs() - start < runMs; k++) {
        const int x = 5 + (k * 37) % 190, y = 5 + (k * 53) % 190;
        const long long delay = clickAndTime(dpy, app, w, x, y, 5000);
        clicks++;
        if (delay < 0) {
            missed++;
            ADD_FAILURE() << "click " << clicks << " at " << x << "," << y
                          << " was not reported within 5 s; " << harness::lastError();
        }
        worst = std::max(worst, delay);
        if (k % 5 == 2) {
            EXPECT_TRUE(openAndDismissMenu(dpy, w, x, y, 10000))
                << "menu " << menus + 1 << " at " << x << "," << y << ": " << harness::lastError();
            menus++;
        }
        harness::sleepMs(600);
        const long kib = residentKiB(app.pid);
        samples.emplace_back(harness::nowMs() - start, kib);
        if (missed > 3 || kib < 0)
            break;
    }
    const long long lastDelay = clickAndTime(dpy, app, w, 17, 29, 5000);
    const bool quit = chooseMenuEntry(dpy, w, 40, 40, 1, 20000);
    const bool ended = quit && harness::waitExit(app, 30000);
    harness::stop(app);

    // single samples alternate between two levels about 1 MiB apart, switching
    // as menus open (seen in the libraries, not the program), so growth is the
    // peak of the run's second half over the peak from warm-up to mid-run
    const long long middle = (warmUpMs + runMs) / 2;
    long firstPeak = -1, secondPeak = -1;
    std::string trace;
    for (const auto &[ms, kib] : samples) {
        if (ms >= warmUpMs && ms < middle)
            firstPeak = std::max(firstPeak, kib);
        else if (ms >= middle)
            secondPeak = std::max(secondPeak, kib);
        trace += " " + std::to_string(ms / 1000) + "s:" + std::to_string(kib);
    }
    std::printf("long run %lld s: %d clicks, %d menus, worst report delay %lld ms, last %lld ms; "
                "peak RSS %ld KiB from warm-up to mid-run, %ld KiB after; %s\n",
                runMs / 1000, clicks, menus, worst, lastDelay, firstPeak, secondPeak,
                ended ? harness::describeStatus(app.status).c_str() : "did not end");
    ASSERT_GT(firstPeak, 0) << "the run ended before warm-up was over";
    ASSERT_GT(secondPeak, 0) << "the run ended before its second half";
    EXPECT_LT(secondPeak - firstPeak, 256)
        << "expected RSS growth after warm-up < 256 KiB, observed " << secondPeak - firstPeak
        << " KiB (peak " << firstPeak << " KiB to mid-run, " << secondPeak << " KiB after); samples"
        << trace;
    EXPECT_GE(lastDelay, 0) << "the last click was not reported within 5 s";
    EXPECT_LT(lastDelay, 1000) << "expected the last report at once, observed after " << lastDelay
                               << " ms";
    ASSERT_TRUE(quit) << "the menu did not open and close for Quit: " << harness::lastError();
    ASSERT_TRUE(ended) << "Quit did not end the program within 30 s";
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0)
        << "expected exit 0 from Quit, observed " << harness::describeStatus(app.status);
}

} // namespace
