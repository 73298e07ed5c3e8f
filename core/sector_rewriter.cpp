#include "sector_rewriter.h"

#include <string.h>

#include "file.h"
#include "job_host.h"

namespace {

// Silence that ends a region whose audio moved toward the start.
const uint8_t kSilence[MAX_BYTE_SHIFT] = {};

// The audio region being written: how many of its bytes came in and how many went out.
struct Region {
    bool open = false;
    int64_t bytesIn = 0;
    int64_t bytesOut = 0;
};

class Rewriter {
  public:
    Rewriter(File& source, File& target, int32_t byteShift, WorkArea& work)
        : source_(source), target_(target), byteShift_(byteShift), work_(work) {}

    RewriteStatus status = RewriteStatus::Finished;
    int32_t error = 0;
    int32_t audioRegions = 0;

    uint8_t* ReadArea() { return work_.bytes + LEAD_IN_SIZE; }
    bool RegionOpen() const { return region_.open; }

    void OpenRegion() {
        region_ = Region();
        region_.open = true;
        ++audioRegions;
        // What a positive shift holds back starts as silence.
        memset(work_.bytes, 0, LEAD_IN_SIZE);
    }

    // Writes what the region still owes: the silence behind audio that moved toward the start.
    bool CloseRegion() {
        if (!region_.open) {
            return true;
        }
        region_.open = false;
        return Write(kSilence, static_cast<int32_t>(region_.bytesIn - region_.bytesOut));
    }

    // Audio of the open region, `size` bytes in the read area.
    bool EmitAudio(int32_t size) {
        uint8_t* audio = ReadArea();
        if (byteShift_ >= 0) {
            int64_t skip = byteShift_ - region_.bytesIn;
            skip = skip < 0 ? 0 : (skip > size ? size : skip);
            region_.bytesIn += size;
            region_.bytesOut += size - skip;
            return Write(audio + skip, static_cast<int32_t>(size - skip));
        }
        // The held-back bytes stand right before the new ones; the last `delay` bytes of both
        // together are held back for the next read.
        int32_t delay = -byteShift_;
        region_.bytesIn += size;
        region_.bytesOut += size;
        if (!Write(audio - delay, size)) {
            return false;
        }
        memmove(audio - delay, audio + size - delay, static_cast<size_t>(delay));
        return true;
    }

    bool ReadAudio(int32_t size) {
        int32_t got = source_.Read(ReadArea(), size);
        if (got != size) {
            Fail(RewriteStatus::ReadFailed, got < 0 ? source_.LastError() : 0);
            return false;
        }
        return true;
    }

    bool CopyData(int64_t size) {
        int64_t copied = source_.CopyTo(target_, size, work_.bytes, sizeof(work_.bytes));
        if (copied == COPY_WRITE_FAILED) {
            Fail(RewriteStatus::WriteFailed, target_.LastError());
            return false;
        }
        if (copied != size) {
            Fail(RewriteStatus::ReadFailed, copied < 0 ? source_.LastError() : 0);
            return false;
        }
        return true;
    }

  private:
    bool Write(const uint8_t* data, int32_t size) {
        if (size == 0 || target_.Write(data, size)) {
            return true;
        }
        Fail(RewriteStatus::WriteFailed, target_.LastError());
        return false;
    }

    void Fail(RewriteStatus failure, int32_t code) {
        status = failure;
        error = code;
    }

    File& source_;
    File& target_;
    int32_t byteShift_;
    WorkArea& work_;
    Region region_;
};

int64_t Smaller(int64_t a, int64_t b) {
    return a < b ? a : b;
}

}  // namespace

RewriteOutcome RewriteSectors(File& source, File& target, int32_t byteShift,
                              const BoundaryList& list, WorkArea& work, JobHost& host,
                              int32_t chunkSectors) {
    if (chunkSectors < 1 || chunkSectors > CHUNK_SECTORS) {
        chunkSectors = CHUNK_SECTORS;
    }
    Rewriter rewriter(source, target, byteShift, work);
    int64_t size = source.Size();
    if (size < 0) {
        return {RewriteStatus::ReadFailed, 0, 0, 0, source.LastError()};
    }
    // Sector numbers stay below END_SENTINEL, so the sentinel is never passed.
    const int64_t total = Smaller(size / SECTOR_SIZE, END_SENTINEL - 1);
    host.RewriteStarting(total);

    int64_t i = 0;
    int32_t k = 0;
    bool cancelled = false;
    while (i < total) {
        // At most one boundary is passed per sector.
        if (list[k] <= i) {
            ++k;
        }
        bool audio = k % 2 == 1;
        // The class holds until the sector where the next boundary is passed.
        int64_t nextBoundary = list[k] > i + 1 ? list[k] : i + 1;
        int64_t nextProgress = (i / PROGRESS_INTERVAL + 1) * PROGRESS_INTERVAL;
        int64_t runEnd = Smaller(Smaller(nextBoundary, nextProgress), total);

        if (audio) {
            if (!rewriter.RegionOpen()) {
                rewriter.OpenRegion();
            }
            runEnd = Smaller(runEnd, i + chunkSectors);
            int32_t bytes = static_cast<int32_t>(runEnd - i) * SECTOR_SIZE;
            if (!rewriter.ReadAudio(bytes) || !rewriter.EmitAudio(bytes)) {
                break;
            }
        } else if (!rewriter.CloseRegion() || !rewriter.CopyData((runEnd - i) * SECTOR_SIZE)) {
            break;
        }
        i = runEnd;

        if (i % PROGRESS_INTERVAL == 0) {
            host.ShowProgress(static_cast<int32_t>(i));
            host.PumpMessages(PUMP_LIMIT);
            if (host.BusyFlag() == 0) {
                cancelled = i < total;
                break;
            }
        }
    }
    // A cancel or the end of the image flushes the audio still held back.
    if (rewriter.status == RewriteStatus::Finished && rewriter.CloseRegion() && cancelled) {
        rewriter.status = RewriteStatus::Cancelled;
    }
    return {rewriter.status, static_cast<int32_t>(i), static_cast<int32_t>(total),
            rewriter.audioRegions, rewriter.error};
}
