// One benchmark run: starts a program on a pseudo-terminal with an LD_PRELOAD
// recorder, answers its three start-up prompts as a user would, lets it run,
// ends it with SIGTERM some seconds after its first frame and prints one line of key=value results:
// peak RSS, how it ended, and the recorder's fields, timestamps given in milliseconds after the
// third answer was written.
//
// usage: bench_run [--preload LIB] [--record FILE] [--answers "X Y SIZE"]
//                  [--seconds S] [--timeout S] [--until-complete] -- PROGRAM [ARGS...]
//
// The run lasts --seconds from the moment the record first appears (the
// first frame), or until the record says "complete" with --until-complete;
// --timeout bounds the whole run from the third answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

double monotonicSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long long monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_run [--preload LIB] [--record FILE] [--answers \"X Y SIZE\"]"
                         " [--seconds S] [--timeout S] [--until-complete] -- PROGRAM [ARGS...]\n");
    std::exit(2);
}

std::map<std::string, std::string> readRecord(const std::string &path)
{
    std::map<std::string, std::string> fields;
    std::ifstream in(path);
    std::string key, value;
    while (in >> key >> value)
        fields[key] = value;
    return fields;
}

struct Child {
    pid_t pid = -1;
    int master = -1;
    bool exited = false;
    int status = 0;
    rusage usage{};
};

bool reap(Child &c, bool block)
{
    if (c.exited)
        return true;
    const pid_t r = wait4(c.pid, &c.status, block ? 0 : WNOHANG, &c.usage);
    if (r == c.pid)
        c.exited = true;
    return c.exited;
}

// reads whatever the program wrote; counts prompts, each of which ends in ": "
void drain(Child &c, int &prompts, char &last, int waitMs)
{
    pollfd p{c.master, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return;
    char buf[4096];
    const ssize_t n = read(c.master, buf, sizeof buf);
    for (ssize_t i = 0; i < n; i++) {
        if (last == ':' && buf[i] == ' ')
            prompts++;
        last = buf[i];
    }
}

Child spawn(char **argv, const std::string &preload, const std::string &record)
{
    Child c;
    c.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (c.master < 0 || grantpt(c.master) != 0 || unlockpt(c.master) != 0) {
        std::perror("bench_run: pseudo-terminal");
        std::exit(1);
    }
    const std::string slave = ptsname(c.master);
    c.pid = fork();
    if (c.pid < 0) {
        std::perror("bench_run: fork");
        std::exit(1);
    }
    if (c.pid == 0) {
        setsid();
        const int fd = open(slave.c_str(), O_RDWR);
        if (fd < 0)
            _exit(127);
        termios t;
        if (tcgetattr(fd, &t) == 0) {
            // the answers need not come back; the prompts are all we read
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(fd, TCSANOW, &t);
        }
        dup2(fd, STDIN_FILENO);
        dup2(fd, STDOUT_FILENO);
        if (fd > STDERR_FILENO)
            close(fd);
        close(c.master);
        if (!preload.empty())
            setenv("LD_PRELOAD", preload.c_str(), 1);
        if (!record.empty())
            setenv("BENCH_RECORD", record.c_str(), 1);
        execvp(argv[0], argv);
        std::perror("bench_run: exec");
        _exit(127);
    }
    return c;
}

std::string endedHow(const Child &c)
{
    if (!c.exited)
        return "unknown";
    if (WIFSIGNALED(c.status))
        return "signal:" + std::to_string(WTERMSIG(c.status));
    return "exit:" + std::to_string(WEXITSTATUS(c.status));
}

} // namespace

int main(int argc, char **argv)
{
    std::string preload, record, answerLine = "10 10 300";
    double seconds = 3, timeout = 60;
    bool untilComplete = false;
    int i = 1;
    for (; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--")
            break;
        if (i + 1 >= argc)
            usage();
        if (a == "--preload")
            preload = argv[++i];
        else if (a == "--record")
            record = argv[++i];
        else if (a == "--answers")
            answerLine = argv[++i];
        else if (a == "--seconds")
            seconds = std::atof(argv[++i]);
        else if (a == "--timeout")
            timeout = std::atof(argv[++i]);
        else if (a == "--until-complete")
            untilComplete = true;
        else
            usage();
    }
    if (i + 1 >= argc)
        usage();
    std::vector<std::string> answers;
    std::istringstream words(answerLine);
    for (std::string w; words >> w;)
        answers.push_back(w + "\n");
    if (answers.size() != 3)
        usage();
    if (!record.empty())
        unlink(record.c_str());

    signal(SIGPIPE, SIG_IGN);
    Child c = spawn(argv + i + 1, preload, record);

    // answer each prompt once it has appeared, as someone at the console would
    int prompts = 0;
    char last = 0;
    long long t0 = 0;
    const double promptDeadline = monotonicSeconds() + 30;
    for (std::size_t answered = 0; answered < answers.size();) {
        if (reap(c, false) || monotonicSeconds() > promptDeadline) {
            std::printf("end=%s error=prompt_%zu_not_seen\n", endedHow(c).c_str(), answered + 1);
            if (!c.exited)
                kill(c.pid, SIGKILL);
            return 1;
        }
        if (prompts > static_cast<int>(answered)) {
            const std::string &ans = answers[answered];
            // the moment the last answer is typed, as the user would see it
            if (answered + 1 == answers.size())
                t0 = monotonicNs();
            if (write(c.master, ans.data(), ans.size()) != static_cast<ssize_t>(ans.size())) {
                std::perror("bench_run: write answer");
                kill(c.pid, SIGKILL);
                return 1;
            }
            answered++;
            continue;
        }
        drain(c, prompts, last, 20);
    }

    const double timeoutAt = static_cast<double>(t0) * 1e-9 + timeout;
    double endAt = timeoutAt;
    bool started = false;
    while (!reap(c, false) && monotonicSeconds() < endAt) {
        drain(c, prompts, last, 20);
        const auto fields = readRecord(record);
        if (untilComplete && fields.count("complete"))
            break;
        if (!started && !fields.empty()) {
            started = true;
            if (monotonicSeconds() + seconds < timeoutAt)
                endAt = monotonicSeconds() + seconds;
        }
    }
    const bool early = c.exited;
    if (!c.exited) {
        kill(c.pid, SIGTERM);
        const double killAt = monotonicSeconds() + 5;
        while (!reap(c, false)) {
            if (monotonicSeconds() > killAt) {
                kill(c.pid, SIGKILL);
                reap(c, true);
                break;
            }
            drain(c, prompts, last, 10);
        }
    }
    close(c.master);

    std::printf("end=%s rss_kb=%ld", early ? ("early_" + endedHow(c)).c_str() : endedHow(c).c_str(),
                c.usage.ru_maxrss);
    const auto fields = readRecord(record);
    for (const auto &[key, value] : fields) {
        const std::size_t k = key.size();
        if (k > 3 && key.compare(k - 3, 3, "_ns") == 0) {
            const long long v = std::atoll(value.c_str());
            if (v == 0)
                std::printf(" %s_ms=-", key.substr(0, k - 3).c_str());
            else
                std::printf(" %s_ms=%.3f", key.substr(0, k - 3).c_str(),
                            static_cast<double>(v - t0) * 1e-6);
        } else {
            std::printf(" %s=%s", key.c_str(), value.c_str());
        }
    }
    if (fields.count("swaps") && fields.count("warm_swaps")) {
        const long long n = std::atoll(fields.at("swaps").c_str());
        const long long w = std::atoll(fields.at("warm_swaps").c_str());
        const long long tw = std::atoll(fields.at("warm_ns").c_str());
        const long long tl = std::atoll(fields.at("last_ns").c_str());
        if (n > w && tl > tw)
            std::printf(" fps=%.2f",
                        static_cast<double>(n - w) / (static_cast<double>(tl - tw) * 1e-9));
        else
            std::printf(" fps=-");
    }
    std::printf("\n");
    return early || fields.empty() ? 1 : 0;
}
