// What the hardening tests need beyond the shared harness in tests/harness:
// the real program spawned with each standard stream chosen apart (a pipe,
// /dev/null or closed), stderr kept apart from stdout and its resource usage
// collected when it ends.
#ifndef CHECKERCUBE_STREAMS_H
#define CHECKERCUBE_STREAMS_H

#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

enum class Stream { Pipe, DevNull, Closed };

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
// display is empty.
Child spawnChild(const std::vector<std::string> &argv, const std::string &display, Stream in,
                 Stream out, Stream err);
// Writes all of text to its stdin within timeout seconds; false if it could not.
bool writeInput(Child &child, const std::string &text, double timeout);
void closeInput(Child &child);
// Reads whatever its stdout and stderr hold now.
void drainOutput(Child &child);
// Waits for it to end, reading its output meanwhile; false on timeout.
bool waitExit(Child &child, double timeout);
// SIGKILLs and reaps it unless it has already ended.
void killChild(Child &child);
// Its resident set size now, in KiB; -1 if it is gone.
long residentKiB(pid_t pid);

#endif
