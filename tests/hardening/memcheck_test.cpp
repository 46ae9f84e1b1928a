// A short real run under valgrind memcheck: the dialogue, a few hundred
// frames, one click and Quit, with no invalid access, no use of uninitialised
// values and no leak but the GL libraries' own (memcheck.supp).
#include "harness.h"
#include "menu.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Memcheck, ShortRunHasNoErrors)
{
    const std::string log = std::string(MEMCHECK_LOG);
    std::remove(log.c_str());
    Display *dpy = harness::display();
    // llvmpipe on the one thread keeps valgrind's serialised threads from
    // slowing the run further
    harness::Child app;
    ASSERT_TRUE(
        harness::spawn(app,
                       {VALGRIND, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
                        "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
                        "--num-callers=40", std::string("--suppressions=") + MEMCHECK_SUPPRESSIONS,
                        "--log-file=" + log, CHECKERCUBE_BINARY},
                       harness::Console::pipes, {"LP_NUM_THREADS=0"}))
        << harness::lastError();
    harness::writeText(app, "30 40 120\n");
    harness::closeInput(app);

    const Window w = harness::findWindow(dpy, "Checker Cube", 180000);
    bool ok = w != 0;
    // count the frames that reach the window by its changing pixels
    int frames = 0;
    const long long start = harness::nowMs();
    for (harness::Image previous; ok && frames < 300 && harness::nowMs() - start < 120000;) {
        harness::Image image = harness::capture(dpy, w);
        bool same = image.pixels.size() == previous.pixels.size();
        for (std::size_t k = 0; same && k < image.pixels.size(); k++)
            same = harness::near(image.pixels[k], previous.pixels[k], 0);
        frames += !same;
        previous = std::move(image);
        harness::sleepMs(5);
    }
    if (ok) {
        harness::click(dpy, w, 12, 34, harness::leftButton);
        ok = chooseMenuEntry(dpy, w, 50, 50, 1, 60000);
    }
    const bool ended = ok && harness::waitExit(app, 180000);
    // a copy: the reads below may overwrite it
    std::string why;
    if (!ended)
        why = harness::lastError();
    harness::readToEnd(app, 5000);
    harness::stop(app);

    const std::string report = readFile(log);
    std::printf("memcheck run: %d frames seen in %lld ms; %s\n", frames, harness::nowMs() - start,
                ended ? harness::describeStatus(app.status).c_str() : "did not end");
    ASSERT_TRUE(ended) << "the run under valgrind did not end: " << why << "; output "
                       << harness::printable(app.seen);
    EXPECT_GE(frames, 100) << "expected a few hundred frames, observed " << frames;
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos)
        << "expected no memcheck errors, observed:\n"
        << report;
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0)
        << "expected exit 0 from Quit, observed " << harness::describeStatus(app.status)
        << " (99 is valgrind's for errors)";
    EXPECT_EQ(app.seen, "Please enter the x-position(1-500 max): "
                        "Please enter the y-position(1-200 max): "
                        "Please enter window size(100-500): Mouse Click! 12,34\n");
}

} // namespace
