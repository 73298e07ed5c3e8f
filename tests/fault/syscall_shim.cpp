#include "syscall_shim.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* data, size_t count);
int __real_close(int fd);
long __real_syscall(long number, ...);
}

namespace shim {

namespace {

struct State {
    bool armed = false;
    Plan plan;
    dev_t device = 0;
    ino_t source = 0;
    ino_t control = 0;
    std::string targetPath;
    int calls[static_cast<int>(Call::Count)] = {};
    bool delivered = false;
};

State state;

bool SameFile(int fd, ino_t inode) {
    struct stat info;
    return fstat(fd, &info) == 0 && info.st_dev == state.device && info.st_ino == inode;
}

// The file created at the image path, not the image itself while it is still under that name.
bool IsTarget(int fd) {
    if (SameFile(fd, state.source)) {
        return false;
    }
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof(path) - 1);
    return n > 0 && std::string(path, static_cast<size_t>(n)) == state.targetPath;
}

enum class Action { Pass, Fail, Shorten };

// Counts a matching call and says what to do with it.
Action Decide(Call call) {
    int n = ++state.calls[static_cast<int>(call)];
    const Plan& plan = state.plan;
    if (plan.call != call || plan.fault == Fault::None || n < plan.nth) {
        return Action::Pass;
    }
    switch (plan.fault) {
        case Fault::Fail:
        case Fault::Interrupt:
            if (n == plan.nth) {
                state.delivered = true;
                errno = plan.fault == Fault::Fail ? plan.error : EINTR;
                return Action::Fail;
            }
            return Action::Pass;
        case Fault::Short:
            state.delivered = true;
            return Action::Shorten;
        default:
            return Action::Pass;
    }
}

size_t Shortened(size_t count) {
    return count > 2 ? count / 3 : count;
}

}  // namespace

void Arm(const Plan& plan, const std::string& imagePath, const std::string& controlPath) {
    state = State();
    struct stat info;
    if (stat(imagePath.c_str(), &info) == 0) {
        state.device = info.st_dev;
        state.source = info.st_ino;
    }
    if (stat(controlPath.c_str(), &info) == 0) {
        state.control = info.st_ino;
    }
    char resolved[PATH_MAX];
    state.targetPath = realpath(imagePath.c_str(), resolved) != nullptr ? resolved : imagePath;
    state.plan = plan;
    state.armed = true;
}

void Disarm() {
    state.armed = false;
}

int Calls(Call call) {
    return state.calls[static_cast<int>(call)];
}

bool Delivered() {
    return state.delivered;
}

}  // namespace shim

using shim::Action;
using shim::Call;

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (shim::state.armed) {
        Call call = shim::SameFile(fd, shim::state.source)    ? Call::Read
                    : shim::SameFile(fd, shim::state.control) ? Call::ControlRead
                                                              : Call::Count;
        if (call != Call::Count) {
            Action action = shim::Decide(call);
            if (action == Action::Fail) {
                return -1;
            }
            if (action == Action::Shorten) {
                count = shim::Shortened(count);
            }
        }
    }
    return __real_read(fd, buffer, count);
}

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t count) {
    if (shim::state.armed && shim::IsTarget(fd)) {
        Action action = shim::Decide(Call::Write);
        if (action == Action::Fail) {
            return -1;
        }
        if (action == Action::Shorten) {
            count = shim::Shortened(count);
        }
    }
    return __real_write(fd, data, count);
}

extern "C" int __wrap_close(int fd) {
    if (shim::state.armed && shim::IsTarget(fd) && shim::Decide(Call::Close) == Action::Fail) {
        // The descriptor is gone either way, as after a close that reports a late write error.
        int error = errno;
        __real_close(fd);
        errno = error;
        return -1;
    }
    return __real_close(fd);
}

// syscall() is variadic; like the C library's own, this passes six argument words on.
extern "C" long __wrap_syscall(long number, ...) {
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& word : a) {
        word = va_arg(list, long);
    }
    va_end(list);
    if (number == SYS_copy_file_range && shim::state.armed &&
        shim::SameFile(static_cast<int>(a[0]), shim::state.source)) {
        Action action = shim::Decide(Call::Copy);
        if (action == Action::Fail) {
            return -1;
        }
        if (action == Action::Shorten) {
            a[4] = static_cast<long>(shim::Shortened(static_cast<size_t>(a[4])));
        }
    }
    return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
