#include "file.h"

int64_t CopyThroughBuffer(File& source, File& target, int64_t sourceOffset, int64_t size,
                          uint8_t* scratch, int32_t scratchSize) {
    int64_t done = 0;
    while (done < size) {
        int32_t chunk = size - done < scratchSize ? static_cast<int32_t>(size - done) : scratchSize;
        int32_t n = source.ReadAt(scratch, sourceOffset + done, chunk);
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
