// The real program spawned with each standard stream chosen apart, stderr
// kept apart from stdout, and its resource usage collected when it ends; and
// an X server of a test's own, for a test that kills it.
#include "streams.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

Child spawnChild(const std::vector<std::string> &argv, const std::string &display, Stream in,
                 Stream out, Stream err)
{
    // a child that goes early must not take the test down with SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (in == Stream::Pipe && pipe(inPipe) != 0)
        std::abort();
    if (out == Stream::Pipe && pipe(outPipe) != 0)
        std::abort();
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
        // nothing may outlive a test that dies
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = open("/dev/null", O_RDWR);
        const int wanted[3][2] = {{inPipe[0], static_cast<int>(in)},
                                  {outPipe[1], static_cast<int>(out)},
                                  {errPipe[1], static_cast<int>(err)}};
        for (int fd = 0; fd < 3; fd++) {
            if (wanted[fd][1] == static_cast<int>(Stream::Pipe))
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
        execv(args[0], args.data());
        _exit(127);
    }
    if (in == Stream::Pipe) {
        close(inPipe[0]);
        child.in = inPipe[1];
        setNonBlocking(child.in);
    }
    if (out == Stream::Pipe) {
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
