// Test harness: Xvfb, child processes on a pty or pipes, and XTest/XGetImage
// access to their windows.
#include "harness.h"

#include <X11/Xlib.h>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace harness {

static std::string errorText;
static Xvfb sharedXvfb;
static Display *xConnection = nullptr;

const std::string &lastError()
{
    return errorText;
}

long long nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::string printable(const std::string &bytes)
{
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

// ---- the X server --------------------------------------------------------

void stopXvfb(Xvfb &server)
{
    if (server.pid <= 0)
        return;
    kill(server.pid, SIGTERM);
    for (long long end = nowMs() + 5000; nowMs() < end; sleepMs(10))
        if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
            server.pid = -1;
            return;
        }
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
}

bool startXvfb(Xvfb &server)
{
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("harness: pipe");
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // the server goes when this process goes, even on a crash or SIGKILL
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        close(fds[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    server.pid = pid;

    // Xvfb writes the display number once it accepts connections
    std::string number;
    const long long end = nowMs() + 20000;
    while (number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        const long long left = end - nowMs();
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        std::fprintf(stderr, "harness: Xvfb gave no display number within 20 s (read %s)\n",
                     printable(number).c_str());
        stopXvfb(server);
        return false;
    }
    server.name = ":" + number.substr(0, number.find('\n'));
    return true;
}

static void stopSharedXvfb()
{
    if (xConnection) {
        XCloseDisplay(xConnection);
        xConnection = nullptr;
    }
    stopXvfb(sharedXvfb);
}

const char *displayName()
{
    if (sharedXvfb.name.empty()) {
        if (!startXvfb(sharedXvfb))
            std::exit(1);
        std::atexit(stopSharedXvfb);
    }
    return sharedXvfb.name.c_str();
}

Display *display()
{
    if (!xConnection) {
        xConnection = XOpenDisplay(displayName());
        if (!xConnection) {
            std::fprintf(stderr, "harness: cannot open display %s\n", displayName());
            std::exit(1);
        }
    }
    return xConnection;
}

// ---- the program's console -----------------------------------------------

static void setEnvironment(const std::vector<std::string> &env)
{
    setenv("DISPLAY", displayName(), 1);
    for (const std::string &e : env) {
        const std::size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
}

[[noreturn]] static void execChild(const std::vector<std::string> &argv,
                                   const std::vector<std::string> &env, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    setEnvironment(env);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "harness: cannot exec %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

bool spawn(Child &child, const std::vector<std::string> &argv, Console console,
           const std::vector<std::string> &env)
{
    child = Child{};
    // the server must exist before the child looks for it
    displayName();
    const pid_t parent = getpid();

    if (console == Console::pty) {
        // a cooked terminal without echo and without output post-processing:
        // lines are still edited by the terminal, but what the program
        // writes arrives unchanged
        termios t{};
        t.c_iflag = ICRNL;
        t.c_oflag = 0;
        t.c_cflag = CS8 | CREAD | CLOCAL;
        t.c_lflag = ICANON | ISIG;
        t.c_cc[VINTR] = 3;
        t.c_cc[VQUIT] = 28;
        t.c_cc[VERASE] = 127;
        t.c_cc[VKILL] = 21;
        t.c_cc[VEOF] = 4;
        t.c_cc[VMIN] = 1;
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        winsize ws{24, 80, 0, 0};
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, &t, &ws);
        if (pid < 0) {
            errorText = std::string("forkpty failed: ") + std::strerror(errno);
            return false;
        }
        if (pid == 0)
            execChild(argv, env, parent);
        child.pid = pid;
        child.out = master;
        child.in = master;
    } else {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            errorText = std::string("pipe failed: ") + std::strerror(errno);
            return false;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            execChild(argv, env, parent);
        }
        close(in[0]);
        close(out[1]);
        child.pid = pid;
        child.out = out[0];
        child.in = in[1];
    }
    fcntl(child.out, F_SETFL, fcntl(child.out, F_GETFL) | O_NONBLOCK);
    fcntl(child.out, F_SETFD, FD_CLOEXEC);
    fcntl(child.in, F_SETFD, FD_CLOEXEC);
    return true;
}

// One read with a deadline: 1 got bytes, 0 timed out, -1 output ended.
static int readSome(Child &child, long long end)
{
    if (child.out < 0)
        return -1;
    const long long left = end - nowMs();
    pollfd p{child.out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left > 0 ? left : 0)) <= 0)
        return 0;
    char buf[4096];
    const ssize_t n = read(child.out, buf, sizeof buf);
    if (n > 0) {
        child.seen.append(buf, static_cast<std::size_t>(n));
        return 1;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // end of file on a pipe, EIO on a pty whose other side has closed
    return -1;
}

bool readUntil(Child &child, const std::string &text, int timeoutMs, std::size_t from)
{
    const long long end = nowMs() + timeoutMs;
    for (;;) {
        if (child.seen.size() >= from && child.seen.find(text, from) != std::string::npos)
            return true;
        if (nowMs() >= end) {
            errorText = "waited " + std::to_string(timeoutMs) + " ms for " + printable(text) +
                        "; observed " + printable(child.seen);
            return false;
        }
        if (readSome(child, end) < 0) {
            errorText =
                "output ended before " + printable(text) + "; observed " + printable(child.seen);
            return false;
        }
    }
}

std::size_t readFor(Child &child, int timeoutMs)
{
    const std::size_t before = child.seen.size();
    const long long end = nowMs() + timeoutMs;
    while (nowMs() < end && readSome(child, end) >= 0) {
    }
    return child.seen.size() - before;
}

bool readToEnd(Child &child, int timeoutMs)
{
    const long long end = nowMs() + timeoutMs;
    while (nowMs() < end)
        if (readSome(child, end) < 0)
            return true;
    errorText = "output still open after " + std::to_string(timeoutMs) + " ms; observed " +
                printable(child.seen);
    return false;
}

void writeText(Child &child, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(child.in, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void closeInput(Child &child)
{
    if (child.in < 0)
        return;
    if (child.in == child.out) {
        // a terminal's end of input is its EOF character at the start of a line
        writeText(child, "\x04");
    } else {
        close(child.in);
        child.in = -1;
    }
}

static bool reap(Child &child, int flags)
{
    if (child.reaped)
        return true;
    if (child.pid <= 0)
        return false;
    int status = 0;
    if (waitpid(child.pid, &status, flags) == child.pid) {
        child.status = status;
        child.reaped = true;
    }
    return child.reaped;
}

bool waitExit(Child &child, int timeoutMs)
{
    const long long end = nowMs() + timeoutMs;
    while (!reap(child, WNOHANG)) {
        if (nowMs() >= end) {
            errorText = "still running after " + std::to_string(timeoutMs) + " ms; observed " +
                        printable(child.seen);
            return false;
        }
        // keep draining, so that a child never blocks on a full console
        readSome(child, nowMs() + 10);
    }
    readToEnd(child, 2000);
    return true;
}

bool running(Child &child)
{
    return !reap(child, WNOHANG);
}

void stop(Child &child)
{
    if (child.pid > 0 && !reap(child, WNOHANG)) {
        kill(child.pid, SIGKILL);
        reap(child, 0);
    }
    if (child.in >= 0 && child.in != child.out)
        close(child.in);
    if (child.out >= 0)
        close(child.out);
    child.in = child.out = -1;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status)) +
               (WCOREDUMP(status) ? " (core dumped)" : "");
    return "wait status " + std::to_string(status);
}

// ---- windows --------------------------------------------------------------

// Viewable top-level windows, topmost last.
static std::vector<Window> viewableTopLevels(Display *dpy, bool overrideRedirect)
{
    std::vector<Window> found;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count))
        return found;
    for (unsigned k = 0; k < count; k++) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, children[k], &a) && a.map_state == IsViewable &&
            (a.override_redirect != 0) == overrideRedirect)
            found.push_back(children[k]);
    }
    if (children)
        XFree(children);
    return found;
}

// tolerates windows that vanish between listing and asking
static int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

static Window findTitled(Display *dpy, const char *wanted)
{
    for (Window w : viewableTopLevels(dpy, false))
        if (title(dpy, w) == wanted)
            return w;
    return None;
}

Window findWindow(Display *dpy, const char *wanted, int timeoutMs)
{
    XSetErrorHandler(ignoreErrors);
    const long long end = nowMs() + timeoutMs;
    for (;;) {
        if (const Window w = findTitled(dpy, wanted))
            return w;
        if (nowMs() >= end)
            break;
        sleepMs(20);
    }
    std::string titles;
    for (Window w : viewableTopLevels(dpy, false))
        titles += " " + printable(title(dpy, w));
    errorText =
        "no viewable window titled " + printable(wanted) + " after " + std::to_string(timeoutMs) +
        " ms; viewable top-level windows:" + (titles.empty() ? std::string(" none") : titles);
    return None;
}

bool waitWindowGone(Display *dpy, const char *wanted, int timeoutMs)
{
    XSetErrorHandler(ignoreErrors);
    for (const long long end = nowMs() + timeoutMs; findTitled(dpy, wanted); sleepMs(20))
        if (nowMs() >= end) {
            errorText = "window " + printable(wanted) + " still viewable after " +
                        std::to_string(timeoutMs) + " ms";
            return false;
        }
    return true;
}

Window findPopup(Display *dpy, int timeoutMs)
{
    XSetErrorHandler(ignoreErrors);
    const long long end = nowMs() + timeoutMs;
    for (;;) {
        const std::vector<Window> popups = viewableTopLevels(dpy, true);
        if (!popups.empty())
            return popups.back();
        if (nowMs() >= end)
            break;
        sleepMs(20);
    }
    errorText = "no viewable override-redirect window after " + std::to_string(timeoutMs) + " ms";
    return None;
}

bool waitPopupGone(Display *dpy, int timeoutMs)
{
    XSetErrorHandler(ignoreErrors);
    for (const long long end = nowMs() + timeoutMs; !viewableTopLevels(dpy, true).empty();
         sleepMs(20))
        if (nowMs() >= end) {
            errorText = "an override-redirect window is still viewable after " +
                        std::to_string(timeoutMs) + " ms";
            return false;
        }
    return true;
}

Geometry geometry(Display *dpy, Window w)
{
    Geometry g;
    Window root = 0, child = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(dpy, w, &root, &x, &y, &width, &height, &border, &depth))
        return g;
    XTranslateCoordinates(dpy, w, root, 0, 0, &g.x, &g.y, &child);
    g.width = static_cast<int>(width);
    g.height = static_cast<int>(height);
    return g;
}

std::string title(Display *dpy, Window w)
{
    char *name = nullptr;
    std::string result;
    if (XFetchName(dpy, w, &name) && name)
        result = name;
    if (name)
        XFree(name);
    return result;
}

static void moveTo(Display *dpy, Window w, int x, int y)
{
    Window child = 0;
    int rx = 0, ry = 0;
    XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(dpy, DefaultScreen(dpy), rx, ry, CurrentTime);
    XSync(dpy, False);
}

void press(Display *dpy, Window w, int x, int y, unsigned button)
{
    moveTo(dpy, w, x, y);
    XTestFakeButtonEvent(dpy, button, True, CurrentTime);
    XSync(dpy, False);
}

void release(Display *dpy, Window w, int x, int y, unsigned button)
{
    moveTo(dpy, w, x, y);
    XTestFakeButtonEvent(dpy, button, False, CurrentTime);
    XSync(dpy, False);
}

void click(Display *dpy, Window w, int x, int y, unsigned button)
{
    press(dpy, w, x, y, button);
    release(dpy, w, x, y, button);
}

void sendDeleteWindow(Display *dpy, Window w)
{
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, w, False, NoEventMask, &ev);
    XSync(dpy, False);
}

// ---- pixels ---------------------------------------------------------------

static int channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        shift++;
    }
    const unsigned long value = (pixel >> shift) & mask;
    // scale any channel width to 0..255
    return static_cast<int>(value * 255 / mask);
}

Image capture(Display *dpy, Window w)
{
    Image image;
    const Geometry g = geometry(dpy, w);
    if (g.width <= 0 || g.height <= 0)
        return image;
    XImage *x = XGetImage(dpy, w, 0, 0, static_cast<unsigned>(g.width),
                          static_cast<unsigned>(g.height), AllPlanes, ZPixmap);
    if (!x) {
        errorText = "XGetImage failed";
        return image;
    }
    image.width = g.width;
    image.height = g.height;
    image.pixels.resize(static_cast<std::size_t>(g.width * g.height));
    for (int y = 0; y < g.height; y++)
        for (int xx = 0; xx < g.width; xx++) {
            const unsigned long p = XGetPixel(x, xx, y);
            image.pixels[static_cast<std::size_t>(y * g.width + xx)] = {
                channel(p, x->red_mask), channel(p, x->green_mask), channel(p, x->blue_mask)};
        }
    XDestroyImage(x);
    return image;
}

bool writePpm(const Image &image, const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", image.width, image.height);
    for (const Rgb &c : image.pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(c.r),
                                      static_cast<unsigned char>(c.g),
                                      static_cast<unsigned char>(c.b)};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

bool near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string describe(Rgb c)
{
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

} // namespace harness
