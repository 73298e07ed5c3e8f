#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "file.h"

static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets");

static int Descriptor(intptr_t handle) {
    return static_cast<int>(handle);
}

bool File::OpenForReading(const char* path) {
    Close();
    // Non-blocking, so that a FIFO under the name cannot hold the job waiting for a writer.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    // Only regular files are images or control files: a directory, FIFO or device is absent.
    struct stat info;
    int error = fstat(fd, &info) != 0 ? errno : 0;
    if (error == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    if (error == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = errno;
    }
    if (error != 0) {
        lastError_ = error;
        close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::CreateForWriting(const char* path) {
    Close();
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::IsOpen() const {
    return handle_ >= 0;
}

bool File::Close() {
    if (handle_ < 0) {
        return true;
    }
    int result = close(Descriptor(handle_));
    handle_ = -1;
    if (result != 0 && errno != EINTR) {
        lastError_ = errno;
        return false;
    }
    return true;
}

int32_t File::Read(void* buffer, int32_t size) {
    if (handle_ < 0) {
        return 0;
    }
    int32_t done = 0;
    while (done < size) {
        ssize_t n = read(Descriptor(handle_), static_cast<char*>(buffer) + done,
                         static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

bool File::Write(const void* data, int32_t size) {
    if (handle_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    int32_t done = 0;
    while (done < size) {
        ssize_t n = write(Descriptor(handle_), static_cast<const char*>(data) + done,
                          static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = errno;
            return false;
        }
        if (n == 0) {
            lastError_ = ENOSPC;
            return false;
        }
        done += static_cast<int32_t>(n);
    }
    return true;
}

bool File::SeekRelative(int32_t distance) {
    if (handle_ < 0) {
        return false;
    }
    if (lseek(Descriptor(handle_), distance, SEEK_CUR) < 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

int64_t File::Size() {
    struct stat info;
    if (handle_ < 0 || fstat(Descriptor(handle_), &info) != 0) {
        lastError_ = handle_ < 0 ? EBADF : errno;
        return -1;
    }
    return info.st_size;
}

static bool IsWriteSideError(int code) {
    return code == ENOSPC || code == EFBIG || code == EDQUOT || code == EROFS;
}

static int64_t CopyInKernel(int from, int to, int64_t size) {
#ifdef SYS_copy_file_range
    return syscall(SYS_copy_file_range, from, nullptr, to, nullptr, static_cast<size_t>(size), 0u);
#else
    (void)from;
    (void)to;
    (void)size;
    errno = ENOSYS;
    return -1;
#endif
}

// copy_file_range copies 64 KiB per step from where a call starts; steps that start on 64 KiB
// boundaries of the file copy measurably faster (bench/run.sh, mixed-mode image).
constexpr int64_t kKernelCopyStep = 64 * 1024;

int64_t File::CopyTo(File& target, int64_t size, uint8_t* scratch, int32_t scratchSize) {
    int64_t done = 0;
    const off_t start = inKernelCopy_ ? lseek(Descriptor(handle_), 0, SEEK_CUR) : -1;
    while (inKernelCopy_ && done < size) {
        int64_t want = size - done;
        int64_t toStep =
            start < 0 ? kKernelCopyStep : kKernelCopyStep - (start + done) % kKernelCopyStep;
        if (toStep < kKernelCopyStep && want > toStep) {
            want = toStep;
        }
        int64_t n = CopyInKernel(Descriptor(handle_), Descriptor(target.handle_), want);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0) {
            return done;
        }
        if (errno == EINTR) {
            continue;
        }
        // Not offered between these files: go through user memory from here on.
        if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == ETXTBSY || errno == EPERM) {
            inKernelCopy_ = false;
            break;
        }
        lastError_ = errno;
        target.lastError_ = errno;
        return IsWriteSideError(errno) ? COPY_WRITE_FAILED : COPY_READ_FAILED;
    }
    while (done < size) {
        int32_t chunk = size - done < scratchSize ? static_cast<int32_t>(size - done) : scratchSize;
        int32_t n = Read(scratch, chunk);
        if (n < 0) {
            return COPY_READ_FAILED;
        }
        if (n == 0) {
            break;
        }
        if (!target.Write(scratch, n)) {
            return COPY_WRITE_FAILED;
        }
        done += n;
    }
    return done;
}

bool FileExists(const char* path) {
    File file;
    return file.OpenForReading(path);
}

static int LinkThenUnlink(const char* from, const char* to) {
    if (link(from, to) != 0) {
        return errno;
    }
    if (unlink(from) != 0) {
        int error = errno;
        unlink(to);
        return error;
    }
    return 0;
}

int RenameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
    const unsigned int noReplace = 1;  // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, noReplace) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
#endif
    // link() refuses any name that is taken, a dangling symbolic link included.
    return LinkThenUnlink(from, to);
}

int RestoreBackup(const char* backupPath, const char* imagePath) {
    return rename(backupPath, imagePath) == 0 ? 0 : errno;
}

int RemoveFile(const char* path) {
    return unlink(path) == 0 ? 0 : errno;
}

const char* SystemErrorText(int code) {
    return strerror(code);
}
