// Helpers for the hardening tests: a private Xvfb, the real program spawned
// with chosen standard streams, its window found and driven through XTest.
#ifndef CHECKERCUBE_XSESSION_H
#define CHECKERCUBE_XSESSION_H

#include <X11/Xlib.h>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// the program's window title
extern const char *const windowTitle;

struct Xserver {
    pid_t pid = -1;
    std::string display; // ":N"
};

// Starts Xvfb with -displayfd; false (with a message on stderr) on failure.
bool startXserver(Xserver &server, int width = 1024, int height = 768);
// Stops it and reaps it; safe to call twice.
void stopXserver(Xserver &server);

// Pty: a terminal, so that the program's output is unbuffered (stdout only)
enum class Stream { Pipe, DevNull, Closed, Pty };

struct Child {
    pid_t pid = -1;
    int in = -1;  // write end of its stdin, when a pipe
    int out = -1; // read end of its stdout, when a pipe
    int err = -1; // read end of its stderr, when a pipe
    std::string outText;
    std::string errText;
    bool exited = false;
    int status = 0;
    struct rusage usage {};
};

// Spawns argv (argv[0] a path) with DISPLAY set to display, or unset when
// display is empty, and the extra NAME=value entries in env.
Child spawnChild(const std::vector<std::string> &argv, const std::string &display, Stream in,
                 Stream out, Stream err, const std::vector<std::string> &env = {});
// Writes all of text to its stdin within timeout seconds; false if it could not.
bool writeInput(Child &child, const std::string &text, double timeout);
void closeInput(Child &child);
// Reads its stdout and stderr until stdout holds text, or timeout seconds pass.
bool readUntil(Child &child, const std::string &text, double timeout);
// Reads whatever its stdout and stderr hold now.
void drainOutput(Child &child);
// Waits for it to end, reading its output meanwhile; false on timeout.
bool waitExit(Child &child, double timeout);
// SIGKILLs and reaps it unless it has already ended.
void killChild(Child &child);
// Its resident set size now, in KiB; -1 if it is gone.
long residentKiB(pid_t pid);
// How its status reads: "exit 0", "signal 15 (Terminated)".
std::string describeStatus(int status);

struct WindowInfo {
    Window id = 0;
    int x = 0, y = 0; // root coordinates of its top-left corner
    int width = 0, height = 0;
};

// Waits until a mapped top-level window with this title exists.
bool findWindow(Display *dpy, const char *title, double timeout, WindowInfo &info);
// Moves the pointer to root (x, y) and presses and releases button there.
void clickAt(Display *dpy, int x, int y, unsigned button);
// Opens the right-button menu at window point (x, y) and chooses entry
// (0 for the first); false if the menu did not appear.
bool chooseMenuEntry(Display *dpy, const WindowInfo &window, int x, int y, int entry,
                     double timeout);
// Grabs the window's pixels and hashes them; 0 if it cannot.
unsigned long windowHash(Display *dpy, const WindowInfo &window);
// Sends the window a window manager's close request (WM_DELETE_WINDOW);
// false if the window does not take part in that protocol.
bool requestClose(Display *dpy, const WindowInfo &window);
// Opens the menu at window point (x, y) and closes it again unchosen.
bool openAndDismissMenu(Display *dpy, const WindowInfo &window, int x, int y, double timeout);

#endif
