#include "syscall_shim.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_pread64(int fd, void* buffer, size_t count, off64_t offset);
ssize_t __real_write(int fd, const void* data, size_t count);
int __real_fcntl64(int fd, int command, ...);
int __real_fallocate64(int fd, int mode, off64_t offset, off64_t length);
int __real_ftruncate64(int fd, off64_t length);
ssize_t __real_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t count,
                      unsigned int flags);
ssize_t __real_copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t count,
                               unsigned int flags);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
int __real_open64(const char* path, int flags, ...);
int __real_rename(const char* from, const char* to);
long __real_syscall(long number, ...);
int __real_unlink(const char* path);
}

namespace shim {

namespace {

constexpr int kMaxInjections = 4;

struct State {
    bool armed = false;
    Injection injections[kMaxInjections];
    bool delivered[kMaxInjections] = {};
    int planned = 0;
    dev_t device = 0;
    ino_t source = 0;
    ino_t control = 0;
    std::string imagePath;  // as the job names it, and resolved
    std::string backupPath;
    std::string targetPath;
    int calls[static_cast<int>(Call::Count)] = {};
    Call beforeCall = Call::Count;
    std::function<void()> before;
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
    if (call == state.beforeCall && state.before) {
        std::function<void()> action = std::move(state.before);
        state.before = nullptr;
        state.armed = false;
        action();
        state.armed = true;
    }
    int n = ++state.calls[static_cast<int>(call)];
    for (int i = 0; i < state.planned; ++i) {
        const Injection& injection = state.injections[i];
        if (injection.call != call || n < injection.nth) {
            continue;
        }
        if (injection.fault == Fault::Short) {
            state.delivered[i] = true;
            return Action::Shorten;
        }
        if (n == injection.nth) {
            state.delivered[i] = true;
            errno = injection.fault == Fault::Fail ? injection.error : EINTR;
            return Action::Fail;
        }
    }
    return Action::Pass;
}

size_t Shortened(size_t count) {
    return count > 2 ? count / 3 : count;
}

}  // namespace

void Arm(const std::vector<Injection>& injections, const std::string& imagePath,
         const std::string& controlPath) {
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
    state.imagePath = imagePath;
    state.backupPath = imagePath.substr(0, imagePath.size() - 4) + ".old";
    state.targetPath = realpath(imagePath.c_str(), resolved) != nullptr ? resolved : imagePath;
    for (const Injection& injection : injections) {
        if (state.planned < kMaxInjections) {
            state.injections[state.planned++] = injection;
        }
    }
    state.armed = true;
}

void Disarm() {
    state.armed = false;
}

void Before(Call call, std::function<void()> action) {
    state.beforeCall = call;
    state.before = std::move(action);
}

int Calls(Call call) {
    return state.calls[static_cast<int>(call)];
}

bool Delivered() {
    return Delivered(Call::Count);
}

bool Delivered(Call call) {
    for (int i = 0; i < state.planned; ++i) {
        if (!state.delivered[i] && (call == Call::Count || state.injections[i].call == call)) {
            return false;
        }
    }
    return true;
}

}  // namespace shim

using shim::Action;
using shim::Call;

namespace shim {
namespace {

// Decides a transfer of `*count` bytes of kind `call` (Count: not one of the job's); false when
// it is to fail, otherwise `*count` may be shortened.
bool Transfer(Call call, size_t* count) {
    if (!state.armed || call == Call::Count) {
        return true;
    }
    Action action = Decide(call);
    if (action == Action::Shorten) {
        *count = Shortened(*count);
    }
    return action != Action::Fail;
}

Call SourceRead(int fd) {
    return SameFile(fd, state.source) ? Call::Read : Call::Count;
}

}  // namespace
}  // namespace shim

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    Call call = !shim::state.armed                        ? Call::Count
                : shim::SameFile(fd, shim::state.control) ? Call::ControlRead
                                                          : shim::SourceRead(fd);
    if (!shim::Transfer(call, &count)) {
        return -1;
    }
    return __real_read(fd, buffer, count);
}

extern "C" ssize_t __wrap_pread64(int fd, void* buffer, size_t count, off64_t offset) {
    if (!shim::Transfer(shim::state.armed ? shim::SourceRead(fd) : Call::Count, &count)) {
        return -1;
    }
    return __real_pread64(fd, buffer, count, offset);
}

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t count) {
    Call call = shim::state.armed && shim::IsTarget(fd) ? Call::Write : Call::Count;
    if (!shim::Transfer(call, &count)) {
        return -1;
    }
    return __real_write(fd, data, count);
}

extern "C" ssize_t __wrap_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t count,
                                 unsigned int flags) {
    Call call = !shim::state.armed                       ? Call::Count
                : shim::SameFile(in, shim::state.source) ? Call::SpliceIn
                : shim::IsTarget(out)                    ? Call::SpliceOut
                                                         : Call::Count;
    if (!shim::Transfer(call, &count)) {
        return -1;
    }
    return __real_splice(in, inOffset, out, outOffset, count, flags);
}

extern "C" ssize_t __wrap_copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset,
                                          size_t count, unsigned int flags) {
    Call call = shim::state.armed && shim::SameFile(in, shim::state.source) && shim::IsTarget(out)
                    ? Call::CopyRange
                    : Call::Count;
    if (!shim::Transfer(call, &count)) {
        return -1;
    }
    return __real_copy_file_range(in, inOffset, out, outOffset, count, flags);
}

// ioctl() is variadic; every request that the job makes takes one pointer.
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list list;
    va_start(list, request);
    void* argument = va_arg(list, void*);
    va_end(list);
    if (shim::state.armed && request == FS_IOC_FIEMAP && shim::IsTarget(fd) &&
        shim::Decide(Call::ShareProbe) == Action::Fail) {
        return -1;
    }
    return __real_ioctl(fd, request, argument);
}

// fcntl() is variadic; every command that the job uses takes one argument word or none.
extern "C" int __wrap_fcntl64(int fd, int command, ...) {
    va_list list;
    va_start(list, command);
    long argument = va_arg(list, long);
    va_end(list);
    if (shim::state.armed && command == F_SETPIPE_SZ &&
        shim::Decide(Call::PipeResize) == Action::Fail) {
        return -1;
    }
    return __real_fcntl64(fd, command, argument);
}

extern "C" int __wrap_fallocate64(int fd, int mode, off64_t offset, off64_t length) {
    if (shim::state.armed && shim::IsTarget(fd) &&
        shim::Decide(Call::Preallocate) == Action::Fail) {
        return -1;
    }
    return __real_fallocate64(fd, mode, offset, length);
}

extern "C" int __wrap_ftruncate64(int fd, off64_t length) {
    if (shim::state.armed && shim::IsTarget(fd) && shim::Decide(Call::Release) == Action::Fail) {
        return -1;
    }
    return __real_ftruncate64(fd, length);
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

extern "C" int __wrap_open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list list;
        va_start(list, flags);
        mode = static_cast<mode_t>(va_arg(list, int));
        va_end(list);
    }
    if (shim::state.armed) {
        struct stat info;
        Call call = (flags & O_CREAT) && shim::state.imagePath == path          ? Call::TargetCreate
                    : shim::state.backupPath == path && lstat(path, &info) == 0 ? Call::SourceOpen
                                                                                : Call::Count;
        if (call != Call::Count && shim::Decide(call) == Action::Fail) {
            return -1;
        }
    }
    return __real_open64(path, flags, mode);
}

extern "C" int __wrap_rename(const char* from, const char* to) {
    if (shim::state.armed && shim::Decide(Call::Rename) == Action::Fail) {
        return -1;
    }
    return __real_rename(from, to);
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
    if (shim::state.armed && number == SYS_renameat2 &&
        shim::Decide(Call::Rename) == Action::Fail) {
        return -1;
    }
    return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

extern "C" int __wrap_unlink(const char* path) {
    if (shim::state.armed && (shim::state.imagePath == path || shim::state.backupPath == path) &&
        shim::Decide(Call::Unlink) == Action::Fail) {
        return -1;
    }
    return __real_unlink(path);
}
