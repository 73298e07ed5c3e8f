#include "disc_reader.h"

#include "sector.h"

bool DiscReader::Open(const DiscPlan& plan, bool fromBackups) {
    for (int32_t f = 0; f < plan.fileCount; ++f) {
        const DiscFile& file = plan.files[f];
        if (!Add(fromBackups && file.audio ? file.backupPath : file.path, file.sectors)) {
            return false;
        }
    }
    return true;
}

bool DiscReader::Add(const char* path, int64_t sectors) {
    const int32_t f = count_;
    if (f == MAX_DISC_FILES) {
        failedFile_ = f;
        return false;
    }
    sizes_[f] = files_[f].OpenForReading(path) ? files_[f].Size() : -1;
    const int64_t whole = sizes_[f] / SECTOR_SIZE;
    if (sizes_[f] < 0 || (sectors >= 0 && whole != sectors)) {
        failedFile_ = f;
        lastError_ = sizes_[f] < 0 ? files_[f].LastError() : 0;
        return false;
    }
    firstByte_[f + 1] = firstByte_[f] + whole * SECTOR_SIZE;
    ++count_;
    return true;
}

int32_t DiscReader::FileOf(int64_t offset) const {
    int32_t f = 0;
    while (f + 1 < count_ && firstByte_[f + 1] <= offset) {
        ++f;
    }
    return f;
}

int32_t DiscReader::ReadAt(void* buffer, int64_t offset, int32_t size) {
    int32_t done = 0;
    while (done < size && offset + done < firstByte_[count_]) {
        int32_t f = FileOf(offset + done);
        int64_t inFile = offset + done - firstByte_[f];
        int64_t room = firstByte_[f + 1] - (offset + done);
        int32_t part = static_cast<int32_t>(size - done < room ? size - done : room);
        int32_t got = files_[f].ReadAt(static_cast<uint8_t*>(buffer) + done, inFile, part);
        if (got < 0) {
            lastError_ = files_[f].LastError();
            return -1;
        }
        done += got;
        if (got < part) {
            break;
        }
    }
    return done;
}

int64_t DiscReader::CopyRange(File& target, int64_t offset, int64_t size, uint8_t* scratch,
                              int32_t scratchSize) {
    int64_t done = 0;
    while (done < size && offset + done < firstByte_[count_]) {
        int32_t f = FileOf(offset + done);
        int64_t room = firstByte_[f + 1] - (offset + done);
        int64_t part = size - done < room ? size - done : room;
        int64_t copied =
            files_[f].CopyRange(target, offset + done - firstByte_[f], part, scratch, scratchSize);
        if (copied < 0) {
            lastError_ = copied == COPY_READ_FAILED ? files_[f].LastError() : target.LastError();
            return copied;
        }
        done += copied;
        if (copied < part) {
            break;
        }
    }
    return done;
}

int64_t DiscReader::CopyAtSameOffset(int32_t file, File& target, int64_t offset, int64_t size,
                                     uint8_t* scratch, int32_t scratchSize) {
    int64_t copied = files_[file].CopyAtSameOffset(target, offset - firstByte_[file], size, scratch,
                                                   scratchSize);
    lastError_ = copied == COPY_READ_FAILED ? files_[file].LastError() : lastError_;
    return copied;
}

bool DiscReader::SizesUnchanged() {
    for (int32_t f = 0; f < count_; ++f) {
        int64_t size = files_[f].Size();
        if (size != sizes_[f]) {
            lastError_ = size < 0 ? files_[f].LastError() : 0;
            return false;
        }
    }
    return true;
}

void DiscReader::Close() {
    for (int32_t f = 0; f < count_; ++f) {
        files_[f].Close();
    }
}
