// The thin file layer under the core: one handle class and a few name operations, with a Win32
// and a POSIX implementation. Failures are values; `LastError()` keeps the system's code.
#pragma once

#include <stdint.h>

constexpr int64_t COPY_READ_FAILED = -1;
constexpr int64_t COPY_WRITE_FAILED = -2;

class File {
  public:
    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading, sharing it for reading only. Directories never open.
    bool OpenForReading(const char* path);
    // Creates the file for writing, empty. POSIX refuses a name that is already taken.
    bool CreateForWriting(const char* path);
    bool IsOpen() const;
    // Closes the handle; false when the system reports that buffered data could not be written.
    bool Close();

    // Reads up to `size` bytes; returns the number read (0 at the end), or -1 on failure.
    // A handle that is not open reads as empty.
    int32_t Read(void* buffer, int32_t size);
    // Reads up to `size` bytes from `offset` on, as Read does, wherever the file position is
    // (which it may move).
    int32_t ReadAt(void* buffer, int64_t offset, int32_t size);
    // Writes all `size` bytes; false when the system wrote fewer or failed.
    bool Write(const void* data, int32_t size);
    // Moves the file position by `distance` bytes from where it is.
    bool SeekRelative(int32_t distance);
    // The size of the open file in bytes, or -1.
    int64_t Size();
    // Appends `size` bytes of this file, from `sourceOffset` on, to `target` at its position: in
    // the kernel where the platform can, otherwise through `scratch`, wherever this file's
    // position is (which it may move). Returns the number copied (fewer at the end of this
    // file), or COPY_READ_FAILED / COPY_WRITE_FAILED with `LastError()` of that side set.
    int64_t CopyRange(File& target, int64_t sourceOffset, int64_t size, uint8_t* scratch,
                      int32_t scratchSize);
    // CopyRange for bytes that keep their offset: `target`'s position must be `offset`. Where the
    // file system can, the target shares the whole blocks among them with this file instead of
    // holding a copy of its own. Returns what CopyRange returns.
    int64_t CopyAtSameOffset(File& target, int64_t offset, int64_t size, uint8_t* scratch,
                             int32_t scratchSize);
    // False once copies at the same offset from this file are known to hold copies of their own:
    // room set aside for them ahead of the copy is then not wasted.
    bool MayShareBlocks() const;

    // Gives this new file the permission bits of `original`, and its owner and group where the
    // process may set them. False when the bits could not be set; nothing to do where the
    // platform has no such bits.
    bool TakeAccessOf(File& original);

    // True when this open file and `other` are one file under two names (a hard link).
    bool IsSameFileAs(File& other);

    // Allocates disk space for `size` bytes from `offset` on ahead of writing them, without
    // changing the file's size, so that writes need not find room block by block. Only a hint:
    // false where the system does not offer it, and the writes then find out whether room is left.
    bool Preallocate(int64_t offset, int64_t size);
    // Frees the space allocated past the end of what was written.
    bool ReleasePreallocation();

    int LastError() const { return lastError_; }

  private:
    intptr_t handle_ = -1;
    int lastError_ = 0;
#ifndef _WIN32
    // The pipe that copies splice through, made at the first copy, closed with the file.
    int pipe_[2] = {-1, -1};
    bool spliceOffered_ = true;
    // How CopyAtSameOffset goes: by copy_file_range until that is seen to copy rather than share
    // (a splice through the pipe copies faster) or is declined, then as CopyRange.
    enum class Sharing : int8_t { Untried, Shares, Copies };
    Sharing sharing_ = Sharing::Untried;
#endif
};

// Copies through `scratch`, read at `sourceOffset` and appended to `target`: what CopyRange does
// where the kernel cannot copy. Returns what CopyRange returns.
int64_t CopyThroughBuffer(File& source, File& target, int64_t sourceOffset, int64_t size,
                          uint8_t* scratch, int32_t scratchSize);

// True for the system's codes that say a name is not there, that it is a folder, and that
// OpenForReading found something other than a regular file (a FIFO, a device).
bool IsMissingFileError(int code);
bool IsFolderError(int code);
bool IsNotFileError(int code);

// True when `path` is a symbolic link (on Windows any reparse point), looked at without following
// it.
bool IsSymbolicLink(const char* path);

// Renames `from` to `to`; never replaces anything at `to`, not even a dangling symbolic link.
// Returns 0, or the system's error code; a failed rename leaves `to` as it was, except where
// the system's only way to rename made `to` a second name of `from` and could not remove it
// again: `*leftError` (when given) then says why, otherwise it is 0.
int RenameNoReplace(const char* from, const char* to, int* leftError = nullptr);

// Puts the backup back under the image name, replacing the unfinished image there.
// Returns 0, or the system's error code.
int RestoreBackup(const char* backupPath, const char* imagePath);

// A short text for a system error code, for messages of the hosts.
const char* SystemErrorText(int code);
