// Helpers for the hardening tests: a private Xvfb, the real program spawned
// with chosen standard streams, its window found and driven through XTest.
#include "xsession.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

const char *const windowTitle = "Checker Cube";

namespace {

double now()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

void pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// reads what is there without blocking; false once the writer has gone
bool readSome(int &fd, std::string &into)
{
    if (fd < 0)
        return false;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        close(fd);
        fd = -1;
        return false;
    }
}

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool reap(Child &child, int flags)
{
    if (child.exited)
        return true;
    int status = 0;
    const pid_t r = wait4(child.pid, &status, flags, &child.usage);
    if (r != child.pid)
        return false;
    child.exited = true;
    child.status = status;
    return true;
}

} // namespace

bool startXserver(Xserver &server, int width, int height)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fdArg = std::to_string(fds[1]);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        for (int fd = 3; fd < 1024; fd++)
            if (fd != fds[1])
                close(fd);
        execlp("Xvfb", "Xvfb", "-displayfd", fdArg.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    server.pid = pid;
    std::string number;
    const double deadline = now() + 30;
    while (number.find('\n') == std::string::npos && now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char c[16];
            const ssize_t n = read(fds[0], c, sizeof c);
            if (n <= 0)
                break;
            number.append(c, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        std::fprintf(stderr, "Xvfb gave no display number within 30 s\n");
        stopXserver(server);
        return false;
    }
    server.display = ":" + number.substr(0, number.find('\n'));
    return true;
}

void stopXserver(Xserver &server)
{
    if (server.pid <= 0)
        return;
    kill(server.pid, SIGTERM);
    for (int i = 0; i < 100; i++) {
        if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
            server.pid = -1;
            return;
        }
        pause(0.05);
    }
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
    server.pid = -1;
}

Child spawnChild(const std::vector<std::string> &argv, const std::string &display, Stream in,
                 Stream out, Stream err, const std::vector<std::string> &env)
{
    // a child that goes early must not take the test down with SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (in == Stream::Pipe && pipe(inPipe) != 0)
        std::abort();
    if (out == Stream::Pipe && pipe(outPipe) != 0)
        std::abort();
    if (out == Stream::Pty) {
        outPipe[0] = posix_openpt(O_RDWR | O_NOCTTY);
        if (outPipe[0] < 0 || grantpt(outPipe[0]) != 0 || unlockpt(outPipe[0]) != 0)
            std::abort();
        outPipe[1] = open(ptsname(outPipe[0]), O_RDWR | O_NOCTTY);
        if (outPipe[1] < 0)
            std::abort();
        // the terminal must pass the program's bytes through as written
        termios mode{};
        tcgetattr(outPipe[1], &mode);
        cfmakeraw(&mode);
        tcsetattr(outPipe[1], TCSANOW, &mode);
    }
    if (err == Stream::Pipe && pipe(errPipe) != 0)
        std::abort();

    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        const int wanted[3][2] = {{inPipe[0], static_cast<int>(in)},
                                  {outPipe[1], static_cast<int>(out)},
                                  {errPipe[1], static_cast<int>(err)}};
        for (int fd = 0; fd < 3; fd++) {
            if (wanted[fd][1] == static_cast<int>(Stream::Pipe) ||
                wanted[fd][1] == static_cast<int>(Stream::Pty))
                dup2(wanted[fd][0], fd);
            else if (wanted[fd][1] == static_cast<int>(Stream::DevNull))
                dup2(null, fd);
        }
        for (int fd = 0; fd < 3; fd++)
            if (wanted[fd][1] == static_cast<int>(Stream::Closed))
                close(fd);
        // nothing of the test's own may reach the program
        for (int fd = 3; fd < 1024; fd++)
            close(fd);
        if (display.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", display.c_str(), 1);
        for (const std::string &entry : env)
            putenv(const_cast<char *>(entry.c_str()));
        execv(args[0], args.data());
        _exit(127);
    }
    if (in == Stream::Pipe) {
        close(inPipe[0]);
        child.in = inPipe[1];
        setNonBlocking(child.in);
    }
    if (out == Stream::Pipe || out == Stream::Pty) {
        close(outPipe[1]);
        child.out = outPipe[0];
        setNonBlocking(child.out);
    }
    if (err == Stream::Pipe) {
        close(errPipe[1]);
        child.err = errPipe[0];
        setNonBlocking(child.err);
    }
    return child;
}

bool writeInput(Child &child, const std::string &text, double timeout)
{
    const double deadline = now() + timeout;
    std::size_t done = 0;
    while (done < text.size()) {
        if (now() > deadline)
            return false;
        const ssize_t n = write(child.in, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // keep its output pipes flowing while it reads
        drainOutput(child);
        pollfd p{child.in, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

void closeInput(Child &child)
{
    if (child.in >= 0)
        close(child.in);
    child.in = -1;
}

void drainOutput(Child &child)
{
    readSome(child.out, child.outText);
    readSome(child.err, child.errText);
}

bool readUntil(Child &child, const std::string &text, double timeout)
{
    const double deadline = now() + timeout;
    for (;;) {
        drainOutput(child);
        if (child.outText.find(text) != std::string::npos)
            return true;
        if (now() > deadline || (child.out < 0 && reap(child, WNOHANG)))
            return false;
        pause(0.01);
    }
}

bool waitExit(Child &child, double timeout)
{
    const double deadline = now() + timeout;
    for (;;) {
        drainOutput(child);
        if (reap(child, WNOHANG)) {
            // whatever it wrote before it went
            drainOutput(child);
            return true;
        }
        if (now() > deadline)
            return false;
        pause(0.02);
    }
}

void killChild(Child &child)
{
    if (child.pid > 0 && !child.exited) {
        kill(child.pid, SIGKILL);
        reap(child, 0);
    }
    closeInput(child);
    for (int *fd : {&child.out, &child.err})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
               ")";
    return "status " + std::to_string(status);
}

namespace {

// the program's windows may vanish between two requests, when it quits or
// dies; that is no error of the test's
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

bool mappedWindow(Display *dpy, const char *title, WindowInfo &info)
{
    XSetErrorHandler(ignoreXError);
    Window root = DefaultRootWindow(dpy), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, root, &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; i++) {
        char *name = nullptr;
        if (!XFetchName(dpy, children[i], &name) || !name)
            continue;
        const bool same = std::strcmp(name, title) == 0;
        XFree(name);
        XWindowAttributes attr;
        if (!same || !XGetWindowAttributes(dpy, children[i], &attr) || attr.map_state != IsViewable)
            continue;
        Window unused = 0;
        info.id = children[i];
        if (!XTranslateCoordinates(dpy, children[i], root, 0, 0, &info.x, &info.y, &unused))
            continue;
        info.width = attr.width;
        info.height = attr.height;
        found = true;
    }
    if (children)
        XFree(children);
    return found;
}

bool waitMapped(Display *dpy, const char *title, bool mapped, double timeout, WindowInfo &info)
{
    const double deadline = now() + timeout;
    for (;;) {
        if (mappedWindow(dpy, title, info) == mapped)
            return true;
        if (now() > deadline)
            return false;
        pause(0.02);
    }
}

void moveTo(Display *dpy, int x, int y)
{
    XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
    XSync(dpy, False);
}

const char *const menuTitle = "freeglut menu";

} // namespace

bool findWindow(Display *dpy, const char *title, double timeout, WindowInfo &info)
{
    return waitMapped(dpy, title, true, timeout, info);
}

void clickAt(Display *dpy, int x, int y, unsigned button)
{
    moveTo(dpy, x, y);
    XTestFakeButtonEvent(dpy, button, True, CurrentTime);
    XTestFakeButtonEvent(dpy, button, False, CurrentTime);
    XSync(dpy, False);
}

bool chooseMenuEntry(Display *dpy, const WindowInfo &window, int x, int y, int entry,
                     double timeout)
{
    clickAt(dpy, window.x + x, window.y + y, Button3);
    WindowInfo menu;
    if (!findWindow(dpy, menuTitle, timeout, menu))
        return false;
    // the menu lists six entries of equal height
    const int ex = menu.x + menu.width / 2;
    const int ey = menu.y + menu.height * (2 * entry + 1) / 12;
    // the menu highlights the entry under the pointer as it moves
    moveTo(dpy, ex - 3, ey - 1);
    pause(0.1);
    clickAt(dpy, ex, ey, Button3);
    return waitMapped(dpy, menuTitle, false, timeout, menu);
}

bool openAndDismissMenu(Display *dpy, const WindowInfo &window, int x, int y, double timeout)
{
    clickAt(dpy, window.x + x, window.y + y, Button3);
    WindowInfo menu;
    if (!findWindow(dpy, menuTitle, timeout, menu))
        return false;
    // a left press in the window but clear of the menu closes it unchosen;
    // the root window would not do, since GLUT sees no events there
    const int cornersX[2] = {window.x + 3, window.x + window.width - 4};
    const int cornersY[2] = {window.y + 3, window.y + window.height - 4};
    for (const int cx : cornersX)
        for (const int cy : cornersY)
            if (cx < menu.x || cx >= menu.x + menu.width || cy < menu.y ||
                cy >= menu.y + menu.height) {
                clickAt(dpy, cx, cy, Button1);
                return waitMapped(dpy, menuTitle, false, timeout, menu);
            }
    return waitMapped(dpy, menuTitle, false, timeout, menu);
}

unsigned long windowHash(Display *dpy, const WindowInfo &window)
{
    XImage *image = XGetImage(dpy, window.id, 0, 0, static_cast<unsigned>(window.width),
                              static_cast<unsigned>(window.height), AllPlanes, ZPixmap);
    if (!image)
        return 0;
    unsigned long hash = 1469598103934665603UL;
    for (int y = 0; y < window.height; y++)
        for (int x = 0; x < window.width; x++)
            hash = (hash ^ XGetPixel(image, x, y)) * 1099511628211UL;
    XDestroyImage(image);
    return hash;
}

bool requestClose(Display *dpy, const WindowInfo &window)
{
    const Atom protocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    Atom *list = nullptr;
    int count = 0;
    bool takesPart = false;
    if (XGetWMProtocols(dpy, window.id, &list, &count)) {
        for (int i = 0; i < count; i++)
            takesPart = takesPart || list[i] == deleteWindow;
        XFree(list);
    }
    if (!takesPart)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window.id, False, NoEventMask, &event);
    XSync(dpy, False);
    return true;
}
