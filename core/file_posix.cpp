#include <errno.h>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "file.h"

static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets");

static int Descriptor(intptr_t handle) {
    return static_cast<int>(handle);
}

static void ClosePipe(int pipeEnds[2]) {
    for (int i = 0; i < 2; ++i) {
        if (pipeEnds[i] >= 0) {
            close(pipeEnds[i]);
            pipeEnds[i] = -1;
        }
    }
}

// 0 for a regular file, which is all that images and control files can be; otherwise why not.
static int RegularFileError(int statResult, const struct stat& info) {
    if (statResult != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    return 0;
}

bool File::OpenForReading(const char* path) {
    Close();
    // Opening a device or FIFO acts on it (a new terminal, a writer set going), so its type is
    // looked at first.
    struct stat info;
    int error = RegularFileError(stat(path, &info), info);
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    // Should the name change in between: non-blocking, so that a FIFO cannot hold the job waiting
    // for a writer, and never taking a terminal as the controlling one; the type is checked again.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    error = RegularFileError(fstat(fd, &info), info);
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
    // Private until TakeAccessOf gives it the original's bits.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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
    ClosePipe(pipe_);
    spliceOffered_ = true;
    sharing_ = Sharing::Untried;
    int result = close(Descriptor(handle_));
    handle_ = -1;
    if (result != 0 && errno != EINTR) {
        lastError_ = errno;
        return false;
    }
    return true;
}

// Reads until `size` bytes, the end of the file or an error; at `offset`, or from the file
// position when it is negative. Returns the bytes read, or -1 with `*error` set.
static int32_t ReadFully(int fd, void* buffer, int32_t size, int64_t offset, int* error) {
    int32_t done = 0;
    while (done < size) {
        char* into = static_cast<char*>(buffer) + done;
        size_t want = static_cast<size_t>(size - done);
        ssize_t n = offset < 0 ? read(fd, into, want) : pread(fd, into, want, offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t File::Read(void* buffer, int32_t size) {
    return handle_ < 0 ? 0 : ReadFully(Descriptor(handle_), buffer, size, -1, &lastError_);
}

int32_t File::ReadAt(void* buffer, int64_t offset, int32_t size) {
    return handle_ < 0 ? 0 : ReadFully(Descriptor(handle_), buffer, size, offset, &lastError_);
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

// Codes by which the kernel declines to copy between two files, rather than failing to.
static bool IsDeclined(int code) {
    return code == ENOSYS || code == EXDEV || code == EINVAL || code == EOPNOTSUPP ||
           code == ETXTBSY || code == EPERM;
}

// The most an unprivileged process may make a pipe hold (fs.pipe-max-size by default). Where the
// pipe stays smaller, a fill stops when it is full and the copy takes more steps.
constexpr int64_t kPipeSize = 1 << 20;

enum class Copied { All, End, ReadFailed, WriteFailed, Declined };

// What CopyRange returns for a failed copy, with the code kept by the side that failed.
static int64_t Failure(Copied result, int code, int* sourceError, int* targetError) {
    if (result == Copied::ReadFailed) {
        *sourceError = code;
        return COPY_READ_FAILED;
    }
    *targetError = code;
    return COPY_WRITE_FAILED;
}

// Moves [from + *done, from + size) of `in` to the end of `out` through the pipe, one fill and
// one drain at a time. The pipe is empty between calls, so a fill never waits for room.
static Copied SpliceThroughPipe(int in, int out, int pipeEnds[2], int64_t from, int64_t size,
                                int64_t* done, int* code) {
    if (pipeEnds[0] < 0) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
            *code = errno;
            return Copied::Declined;
        }
        fcntl(pipeEnds[1], F_SETPIPE_SZ, static_cast<int>(kPipeSize));
    }
    while (*done < size) {
        int64_t want = size - *done < kPipeSize ? size - *done : kPipeSize;
        loff_t offset = from + *done;
        ssize_t held = splice(in, &offset, pipeEnds[1], nullptr, static_cast<size_t>(want), 0);
        if (held == 0) {
            return Copied::End;
        }
        if (held < 0) {
            if (errno == EINTR) {
                continue;
            }
            *code = errno;
            return IsDeclined(errno) ? Copied::Declined : Copied::ReadFailed;
        }
        while (held > 0) {
            ssize_t n = splice(pipeEnds[0], nullptr, out, nullptr, static_cast<size_t>(held), 0);
            if (n > 0) {
                held -= n;
                *done += n;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            *code = n == 0 ? ENOSPC : errno;
            // What the pipe still holds is read again from the source if the copy goes on.
            ClosePipe(pipeEnds);
            return n < 0 && IsDeclined(*code) ? Copied::Declined : Copied::WriteFailed;
        }
    }
    return Copied::All;
}

int64_t File::CopyRange(File& target, int64_t sourceOffset, int64_t size, uint8_t* scratch,
                        int32_t scratchSize) {
    if (handle_ < 0) {
        return 0;
    }
    if (target.handle_ < 0) {
        target.lastError_ = EBADF;
        return COPY_WRITE_FAILED;
    }
    int64_t done = 0;
    int code = 0;
    if (spliceOffered_) {
        Copied result = SpliceThroughPipe(Descriptor(handle_), Descriptor(target.handle_), pipe_,
                                          sourceOffset, size, &done, &code);
        if (result == Copied::All || result == Copied::End) {
            return done;
        }
        if (result != Copied::Declined) {
            return Failure(result, code, &lastError_, &target.lastError_);
        }
        // Not offered between these files: go through user memory from here on.
        spliceOffered_ = false;
        ClosePipe(pipe_);
    }
    int64_t rest =
        CopyThroughBuffer(*this, target, sourceOffset + done, size - done, scratch, scratchSize);
    return rest < 0 ? rest : done + rest;
}

bool File::TakeAccessOf(File& original) {
    struct stat info;
    if (handle_ < 0 || original.handle_ < 0 || fstat(Descriptor(original.handle_), &info) != 0) {
        lastError_ = handle_ < 0 || original.handle_ < 0 ? EBADF : errno;
        return false;
    }
    // Owner first, since a change of owner may clear the set-user-ID bit. Only a privileged
    // process may give the file away; a member of the group may still set that.
    if (fchown(Descriptor(handle_), info.st_uid, info.st_gid) != 0) {
        (void)fchown(Descriptor(handle_), static_cast<uid_t>(-1), info.st_gid);
    }
    if (fchmod(Descriptor(handle_), info.st_mode & 07777) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool File::IsSameFileAs(File& other) {
    struct stat mine;
    struct stat theirs;
    return handle_ >= 0 && other.handle_ >= 0 && fstat(Descriptor(handle_), &mine) == 0 &&
           fstat(Descriptor(other.handle_), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
           mine.st_ino == theirs.st_ino;
}

// Where copy_file_range fails rather than declines, only these codes are the target's for sure.
static bool IsTargetFull(int code) {
    return code == ENOSPC || code == EDQUOT || code == EFBIG;
}

// Copies [from + *done, from + size) of `in` to the same offsets of `out`. The kernel shares the
// blocks where the file system can and copies them itself elsewhere.
static Copied CopyFileRange(int in, int out, int64_t from, int64_t size, int64_t* done, int* code) {
    while (*done < size) {
        loff_t inOffset = from + *done;
        loff_t outOffset = inOffset;
        ssize_t n =
            copy_file_range(in, &inOffset, out, &outOffset, static_cast<size_t>(size - *done), 0);
        if (n > 0) {
            *done += n;
            continue;
        }
        if (n == 0) {
            return Copied::End;
        }
        if (errno == EINTR) {
            continue;
        }
        *code = errno;
        return IsDeclined(errno)     ? Copied::Declined
               : IsTargetFull(errno) ? Copied::WriteFailed
                                     : Copied::ReadFailed;
    }
    return Copied::All;
}

// Blocks are shared only at offsets that are multiples of the file system's block size. The
// preferred I/O size is a whole number of blocks; 4 KiB where it is not plausibly one.
static int64_t ShareUnit(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_blksize < 4096 || info.st_blksize > (1 << 20) ||
        (info.st_blksize & (info.st_blksize - 1)) != 0) {
        return 4096;
    }
    return info.st_blksize;
}

// Whether the first blocks of `fd` in [offset, offset + size) are shared with another file; false
// where nothing is allocated there yet. Where the file system cannot tell, the kernel may still do
// better than a copy (a server copies for an NFS or SMB client), so that counts as shared.
static bool FindSharing(int fd, int64_t offset, int64_t size, bool* shared) {
    alignas(fiemap) uint8_t query[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
    fiemap* map = reinterpret_cast<fiemap*>(query);
    map->fm_start = static_cast<uint64_t>(offset);
    map->fm_length = static_cast<uint64_t>(size);
    map->fm_extent_count = 1;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
        *shared = true;
        return true;
    }
    *shared = (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
    return map->fm_mapped_extents > 0;
}

int64_t File::CopyAtSameOffset(File& target, int64_t offset, int64_t size, uint8_t* scratch,
                               int32_t scratchSize) {
    if (handle_ < 0 || target.handle_ < 0 || sharing_ == Sharing::Copies) {
        return CopyRange(target, offset, size, scratch, scratchSize);
    }
    const int out = Descriptor(target.handle_);
    const int64_t unit = ShareUnit(out);
    const int64_t first = (offset + unit - 1) / unit * unit;
    const int64_t last = (offset + size) / unit * unit;
    if (last <= first) {
        return CopyRange(target, offset, size, scratch, scratchSize);
    }
    // The part before the first whole block goes as any copy, to the target's position.
    int64_t head = CopyRange(target, offset, first - offset, scratch, scratchSize);
    if (head != first - offset) {
        return head;
    }
    int64_t done = 0;
    int code = 0;
    Copied result = CopyFileRange(Descriptor(handle_), out, first, last - first, &done, &code);
    if (result == Copied::ReadFailed || result == Copied::WriteFailed) {
        return Failure(result, code, &lastError_, &target.lastError_);
    }
    bool shared = false;
    if (result == Copied::Declined) {
        sharing_ = Sharing::Copies;
    } else if (sharing_ == Sharing::Untried && done > 0 && FindSharing(out, first, done, &shared)) {
        sharing_ = shared ? Sharing::Shares : Sharing::Copies;
    }
    // copy_file_range left the position where it was. The rest (the part after the last whole
    // block, or all that copy_file_range did not do) goes as any copy, and finds the end itself.
    if (lseek(out, first + done, SEEK_SET) < 0) {
        target.lastError_ = errno;
        return COPY_WRITE_FAILED;
    }
    int64_t rest =
        CopyRange(target, first + done, offset + size - first - done, scratch, scratchSize);
    return rest < 0 ? rest : first - offset + done + rest;
}

bool File::MayShareBlocks() const {
    return sharing_ != Sharing::Copies;
}

bool File::Preallocate(int64_t offset, int64_t size) {
    // Past the end of the file, so that its size still says how much was written.
    if (handle_ < 0 || fallocate(Descriptor(handle_), FALLOC_FL_KEEP_SIZE, offset, size) != 0) {
        lastError_ = handle_ < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

bool File::ReleasePreallocation() {
    // Cutting a file to its own size frees what was allocated past its end.
    int64_t size = Size();
    if (size < 0 || ftruncate(Descriptor(handle_), size) != 0) {
        lastError_ = size < 0 ? lastError_ : errno;
        return false;
    }
    return true;
}

static int LinkThenUnlink(const char* from, const char* to, int* leftError) {
    if (link(from, to) != 0) {
        return errno;
    }
    if (unlink(from) != 0) {
        // Half a rename is no rename: the new name goes again, or the caller hears it stayed.
        int error = errno;
        if (unlink(to) != 0 && leftError != nullptr) {
            *leftError = errno;
        }
        return error;
    }
    return 0;
}

int RenameNoReplace(const char* from, const char* to, int* leftError) {
    if (leftError != nullptr) {
        *leftError = 0;
    }
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
    return LinkThenUnlink(from, to, leftError);
}

bool IsSymbolicLink(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsMissingFileError(int code) {
    return code == ENOENT;
}

bool IsFolderError(int code) {
    return code == EISDIR;
}

bool IsNotFileError(int code) {
    return code == EINVAL;
}

int RestoreBackup(const char* backupPath, const char* imagePath) {
    return rename(backupPath, imagePath) == 0 ? 0 : errno;
}

const char* SystemErrorText(int code) {
    return strerror(code);
}
