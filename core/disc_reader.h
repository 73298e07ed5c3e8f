// Reads the stream of a plan's files as one: every read and copy goes to the files that hold its
// bytes, so that audio crosses from one track file into the next as it does on the disc.
#pragma once

#include <stdint.h>

#include "disc_plan.h"
#include "file.h"

class DiscReader {
  public:
    // Opens every file of `plan`, a rewritten one under its backup name when `fromBackups`.
    // False when one does not open or its whole sectors are not those planned: `FailedFile()`
    // names it and `LastError()` says why (0 for another size).
    bool Open(const DiscPlan& plan, bool fromBackups);
    // Opens `path` as the next file of the stream, holding `sectors` whole sectors (as many as
    // it has when negative). False as for Open.
    bool Add(const char* path, int64_t sectors);
    // The whole sectors of the stream, in bytes.
    int64_t Bytes() const { return firstByte_[count_]; }

    // Reads up to `size` bytes of the stream from `offset` on; returns the number read (fewer
    // only at the end of the stream), or -1 on a failure.
    int32_t ReadAt(void* buffer, int64_t offset, int32_t size);
    // Appends `size` bytes of the stream from `offset` on to `target`, as File::CopyRange does.
    int64_t CopyRange(File& target, int64_t offset, int64_t size, uint8_t* scratch,
                      int32_t scratchSize);
    // Copies bytes of file `file` that keep their place in it, as File::CopyAtSameOffset does;
    // `offset` is in the stream.
    int64_t CopyAtSameOffset(int32_t file, File& target, int64_t offset, int64_t size,
                             uint8_t* scratch, int32_t scratchSize);

    // Closes every file, so that their names can be given back.
    void Close();

    File& FileAt(int32_t file) { return files_[file]; }
    // True while every file still has the size it had when it was opened.
    bool SizesUnchanged();
    int32_t FailedFile() const { return failedFile_; }
    int LastError() const { return lastError_; }

  private:
    // The file that holds stream byte `offset` (the last file for an offset past the end).
    int32_t FileOf(int64_t offset) const;

    File files_[MAX_DISC_FILES];
    int64_t firstByte_[MAX_DISC_FILES + 1] = {0};
    int64_t sizes_[MAX_DISC_FILES];
    int32_t count_ = 0;
    int32_t failedFile_ = -1;
    int lastError_ = 0;
};
