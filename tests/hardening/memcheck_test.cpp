// A short real run under valgrind memcheck: the dialogue, a few hundred
// frames, one click and Quit, with no invalid access, no use of uninitialised
// values and no leak but the GL libraries' own (memcheck.supp).
// GoogleTest first: Xlib defines macros (None, Bool) that its names use
#include <gtest/gtest.h>

#include "xsession.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace {

double now()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

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
    Xserver server;
    ASSERT_TRUE(startXserver(server));
    Display *dpy = XOpenDisplay(server.display.c_str());
    ASSERT_NE(dpy, nullptr);
    // llvmpipe on the one thread keeps valgrind's serialised threads from
    // slowing the run further
    Child child =
        spawnChild({VALGRIND, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
                    "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
                    "--num-callers=40", std::string("--suppressions=") + MEMCHECK_SUPPRESSIONS,
                    "--log-file=" + log, CHECKERCUBE_BINARY},
                   server.display, Stream::Pipe, Stream::Pipe, Stream::Pipe, {"LP_NUM_THREADS=0"});
    writeInput(child, "30 40 120\n", 30);
    closeInput(child);

    WindowInfo window;
    bool ok = findWindow(dpy, windowTitle, 180, window);
    // count the frames that reach the window by its changing pixels
    int frames = 0;
    const double start = now();
    for (unsigned long previous = 0; ok && frames < 300 && now() - start < 120;) {
        const unsigned long hash = windowHash(dpy, window);
        if (hash != previous)
            frames++;
        previous = hash;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ok) {
        clickAt(dpy, window.x + 12, window.y + 34, Button1);
        ok = chooseMenuEntry(dpy, window, 50, 50, 0, 60);
    }
    const bool ended = ok && waitExit(child, 180);
    if (!ended)
        killChild(child);
    XCloseDisplay(dpy);
    stopXserver(server);

    const std::string report = readFile(log);
    std::printf("memcheck run: %d frames seen in %.0f s; %s\n", frames, now() - start,
                ended ? describeStatus(child.status).c_str() : "did not end");
    ASSERT_TRUE(ended) << "the run under valgrind did not end; stderr \"" << child.errText << "\"";
    EXPECT_GE(frames, 100) << "expected a few hundred frames, observed " << frames;
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos)
        << "expected no memcheck errors, observed:\n"
        << report;
    EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0)
        << "expected exit 0 from Quit, observed " << describeStatus(child.status) << " (99 is "
        << "valgrind's for errors)";
    EXPECT_EQ(child.outText, "Please enter the x-position(1-500 max): "
                             "Please enter the y-position(1-200 max): "
                             "Please enter window size(100-500): Mouse Click! 12,34\n");
}

} // namespace
