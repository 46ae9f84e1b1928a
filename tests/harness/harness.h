// Test harness: a private Xvfb, the real program on a terminal or on pipes,
// and its window driven and read back through the X server.
//
// Typical use:
//
//     Display *dpy = harness::display();            // starts Xvfb on first use
//     harness::Child app;
//     harness::spawn(app, {CHECKERCUBE_PATH}, harness::Console::pty);
//     harness::readUntil(app, "Please enter window size(100-500): ", 5000);
//     harness::writeText(app, "50 60 400\n");
//     Window w = harness::findWindow(dpy, "Checker Cube", 5000);
//     harness::click(dpy, w, 10, 20, harness::leftButton);
//     harness::quit(app);                           // or harness::stop(app)
//
// Every wait takes a timeout in milliseconds and gives up after it; the
// functions that can fail say what they observed in harness::lastError().
// The Xvfb and every spawned child get SIGKILL/SIGTERM when the test process
// dies, however it dies, so nothing outlives a failed or crashed test.
#ifndef CHECKERCUBE_HARNESS_H
#define CHECKERCUBE_HARNESS_H

#include <string>
#include <sys/types.h>
#include <vector>

// Xlib's own types, declared without Xlib's macros (None, Bool, Status, ...),
// which clash with GoogleTest and the C++ library.
typedef struct _XDisplay Display;
typedef unsigned long Window;

namespace harness {

// X pointer buttons.
enum : unsigned { leftButton = 1, middleButton = 2, rightButton = 3 };

// ---- the X server --------------------------------------------------------

// An Xvfb with a 1280x1024x24 screen on a display number it picks itself.
struct Xvfb {
    pid_t pid = -1;
    std::string name; // ":N"
};
// Starts one; false, with a message on stderr, if it gives no display number.
// The server goes when the calling process goes, however that happens.
bool startXvfb(Xvfb &server);
// SIGTERM, then SIGKILL if it lingers; safe to call twice.
void stopXvfb(Xvfb &server);

// Starts (once per process) the shared server and stops it at exit. Tests
// that kill or restart a server start one of their own with startXvfb.
const char *displayName();
// A connection to that server, opened once and kept for the whole process.
Display *display();

// ---- the program's console -----------------------------------------------

enum class Console {
    // a pseudo-terminal without echo or output post-processing, so that the
    // bytes read are exactly the bytes the program wrote
    pty,
    // plain pipes for standard input and output (stderr joins stdout)
    pipes,
};

struct Child {
    pid_t pid = -1;
    int out = -1;     // read end: the program's stdout and stderr
    int in = -1;      // write end: the program's stdin (same fd as out on a pty)
    std::string seen; // everything read from out so far
    int status = 0;   // wait status, once reaped
    bool reaped = false;
};

// Forks and execs argv[0] with the given console. DISPLAY is set to
// displayName() unless env overrides: entries "NAME=value" are set,
// entries "NAME" alone are removed from the child's environment.
bool spawn(Child &child, const std::vector<std::string> &argv, Console console,
           const std::vector<std::string> &env = {});

// Reads until child.seen contains text after position from (so that an
// earlier occurrence does not count). False on timeout or end of output.
bool readUntil(Child &child, const std::string &text, int timeoutMs, std::size_t from = 0);
// Reads whatever arrives within timeoutMs; returns the number of new bytes.
std::size_t readFor(Child &child, int timeoutMs);
// Reads until the output ends (the program closed it or exited).
bool readToEnd(Child &child, int timeoutMs);
void writeText(Child &child, const std::string &text);
// Closes the program's standard input (end of input).
void closeInput(Child &child);

// Waits for the child to exit; false on timeout. child.status holds the
// wait status afterwards.
bool waitExit(Child &child, int timeoutMs);
// True while the child has not exited.
bool running(Child &child);
// SIGKILLs and reaps the child if it still runs; closes its descriptors.
void stop(Child &child);
// Describes a wait status: "exit 0", "signal 11", ...
std::string describeStatus(int status);

// ---- windows --------------------------------------------------------------

struct Geometry {
    int x = 0, y = 0;          // top-left corner of the inside, root coordinates
    int width = 0, height = 0; // inside size
};

// Waits until a viewable top-level window with this title (WM_NAME) exists.
// Returns 0 on timeout.
Window findWindow(Display *dpy, const char *title, int timeoutMs);
// Waits until a viewable override-redirect top-level window exists (a
// pop-up menu). Returns 0 on timeout.
Window findPopup(Display *dpy, int timeoutMs);
// Waits until no override-redirect top-level window is viewable.
bool waitPopupGone(Display *dpy, int timeoutMs);
// Waits until no viewable top-level window has this title, so that the next
// findWindow cannot pick up the window of a program that has just ended.
bool waitWindowGone(Display *dpy, const char *title, int timeoutMs);
Geometry geometry(Display *dpy, Window w);
std::string title(Display *dpy, Window w);

// Moves the pointer to window pixel (x, y), then presses or releases a
// button through XTest.
void press(Display *dpy, Window w, int x, int y, unsigned button);
void release(Display *dpy, Window w, int x, int y, unsigned button);
void click(Display *dpy, Window w, int x, int y, unsigned button);
// Sends the WM_DELETE_WINDOW client message a window manager sends on close.
void sendDeleteWindow(Display *dpy, Window w);

// ---- pixels ---------------------------------------------------------------

struct Rgb {
    int r = 0, g = 0, b = 0;
};

// A capture: width x height pixels, row 0 at the top (X order).
struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
};

// Captures the window's inside with XGetImage (empty image on failure).
Image capture(Display *dpy, Window w);
// Writes a binary PPM, for looking at a failure afterwards.
bool writePpm(const Image &image, const std::string &path);

// True when every channel of a is within tolerance of b.
bool near(Rgb a, Rgb b, int tolerance);
std::string describe(Rgb c);

// ---- diagnostics ------------------------------------------------------------

// What the last failing harness call observed, for the test's failure message.
const std::string &lastError();
// Bytes with control characters escaped, for failure messages.
std::string printable(const std::string &bytes);
// Monotonic milliseconds.
long long nowMs();
void sleepMs(int ms);

} // namespace harness

#endif
