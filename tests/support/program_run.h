// Runs a program of the build as a user would and takes what it prints, for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

constexpr uid_t kNobody = 65534;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Where a run's output goes besides its own pipes.
struct RunSetup {
    bool merged = false;               // stderr into the stdout pipe, as 2>&1 does
    const char* stdoutPath = nullptr;  // stdout to this file instead of a pipe
    bool unprivileged = false;         // as nobody, when the tests run as root
};

// Everything that can be read from `fd` until its end.
std::string ReadAll(int fd);

// The argument vector for execv: `program`, `args`, then a null pointer; it points into both.
std::vector<char*> ArgumentVector(std::string& program, std::vector<std::string>& args);

// The exit status of child `pid` once it ends, as a shell gives it: 128 + the signal that
// killed it.
int ExitStatus(pid_t pid);

// Runs `program` with `args` and pipes for its output, read whole: stdout first, then stderr,
// which must stay within a pipe's size.
Outcome RunProgram(std::string program, std::vector<std::string> args, const RunSetup& setup = {});

// Starts `program` with its stdout into a pipe that is full already, so that it is held at its
// first write of stdout until `*out`, the pipe's reading end, is read; its stderr into a pipe
// read at `*err`. Returns the process id.
pid_t StartHeldAtOutput(std::string program, std::vector<std::string> args, int* out, int* err);

// Waits, a few seconds at most, until process `pid` sleeps (as in a write to a full pipe) while
// `ready()` holds; false when it never does.
bool WaitUntilAsleep(pid_t pid, const std::function<bool()>& ready);

}  // namespace testing_support
