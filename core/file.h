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
    // Writes all `size` bytes; false when the system wrote fewer or failed.
    bool Write(const void* data, int32_t size);
    // Moves the file position by `distance` bytes from where it is.
    bool SeekRelative(int32_t distance);
    // The size of the open file in bytes, or -1.
    int64_t Size();
    // Copies `size` bytes from this file's position to `target`'s, in the kernel where the
    // platform can, otherwise through `scratch`. Returns the number copied (fewer at the end of
    // this file), or COPY_READ_FAILED / COPY_WRITE_FAILED with `LastError()` of that side set.
    int64_t CopyTo(File& target, int64_t size, uint8_t* scratch, int32_t scratchSize);

    int LastError() const { return lastError_; }

  private:
    intptr_t handle_ = -1;
    int lastError_ = 0;
    bool inKernelCopy_ = true;
};

// A name exists when it opens for reading (and so is not a directory).
bool FileExists(const char* path);

// Renames `from` to `to`; never replaces anything at `to`, not even a dangling symbolic link.
// Returns 0, or the system's error code.
int RenameNoReplace(const char* from, const char* to);

// Puts the backup back under the image name, replacing the unfinished image there.
// Returns 0, or the system's error code.
int RestoreBackup(const char* backupPath, const char* imagePath);

// Removes a file; returns 0, or the system's error code.
int RemoveFile(const char* path);

// A short text for a system error code, for messages of the hosts.
const char* SystemErrorText(int code);
