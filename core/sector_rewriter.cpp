#include "sector_rewriter.h"

#include "disc_reader.h"
#include "file.h"
#include "job_host.h"

namespace {

// Silence at the edge of a region, where its audio moved away from.
const uint8_t kSilence[MAX_BYTE_SHIFT] = {};

int64_t Smaller(int64_t a, int64_t b) {
    return a < b ? a : b;
}

int64_t Larger(int64_t a, int64_t b) {
    return a > b ? a : b;
}

// Writes the target from start to end with File::CopyRange. Audio is shifted by where the source
// is read from, not by moving bytes in memory; only silence is written from memory. Positions
// are byte offsets in the image.
class Rewriter {
  public:
    Rewriter(File& source, File& target, int32_t byteShift, WorkArea& work)
        : source_(source), target_(target), byteShift_(byteShift), work_(work) {}

    RewriteStatus status = RewriteStatus::Finished;
    int32_t error = 0;
    int32_t audioRegions = 0;

    // Data sectors [from, to): unchanged, at the same place, after the open region ends before
    // them. Where the file system can, the two images share these blocks.
    bool Data(int64_t from, int64_t to) {
        return CloseRegion() &&
               Judge(to - from, source_.CopyAtSameOffset(target_, from, to - from, work_.bytes,
                                                         sizeof(work_.bytes)));
    }

    // Audio sectors [from, to), in the region open since `regionStart_` or opening at `from`.
    bool Audio(int64_t from, int64_t to) {
        if (!regionOpen_) {
            regionOpen_ = true;
            regionStart_ = from;
            ++audioRegions;
        }
        regionEnd_ = to;
        if (byteShift_ >= 0) {
            // The region's first byteShift bytes are dropped; the rest moves toward the start.
            int64_t kept = Larger(from, Smaller(to, regionStart_ + byteShift_));
            return Check(from, kept - from) && Copy(kept, to - kept);
        }
        // The region starts with -byteShift bytes of silence; its source follows that far behind.
        int64_t heard = Larger(from, Smaller(to, regionStart_ - byteShift_));
        return Write(kSilence, heard - from) && Copy(heard + byteShift_, to - heard);
    }

    // Ends the open region after its last audio sector: writes the silence still owed where audio
    // moved toward the start, or reads the bytes that audio moving toward the end pushed out.
    bool CloseRegion() {
        if (!regionOpen_) {
            return true;
        }
        regionOpen_ = false;
        if (byteShift_ >= 0) {
            return Write(kSilence, Smaller(byteShift_, regionEnd_ - regionStart_));
        }
        int64_t dropped = Larger(regionStart_, regionEnd_ + byteShift_);
        return Check(dropped, regionEnd_ - dropped);
    }

  private:
    bool Copy(int64_t from, int64_t size) {
        return size == 0 || Judge(size, source_.CopyRange(target_, from, size, work_.bytes,
                                                          sizeof(work_.bytes)));
    }

    // Judges what a copy of `size` bytes returned.
    bool Judge(int64_t size, int64_t copied) {
        if (copied == COPY_WRITE_FAILED) {
            return Fail(RewriteStatus::WriteFailed, target_.LastError());
        }
        if (copied != size) {
            return Fail(RewriteStatus::ReadFailed, copied < 0 ? source_.LastError() : 0);
        }
        return true;
    }

    // Reads bytes that the shift drops (at most MAX_BYTE_SHIFT), so that a source cut short or
    // unreadable there fails the job as anywhere else.
    bool Check(int64_t from, int64_t size) {
        if (size == 0) {
            return true;
        }
        int32_t got = source_.ReadAt(work_.bytes, from, static_cast<int32_t>(size));
        if (got != size) {
            return Fail(RewriteStatus::ReadFailed, got < 0 ? source_.LastError() : 0);
        }
        return true;
    }

    bool Write(const uint8_t* data, int64_t size) {
        if (size == 0 || target_.Write(data, static_cast<int32_t>(size))) {
            return true;
        }
        return Fail(RewriteStatus::WriteFailed, target_.LastError());
    }

    bool Fail(RewriteStatus failure, int32_t code) {
        status = failure;
        error = code;
        return false;
    }

    File& source_;
    File& target_;
    int32_t byteShift_;
    WorkArea& work_;
    bool regionOpen_ = false;
    int64_t regionStart_ = 0;
    int64_t regionEnd_ = 0;
};

}  // namespace

int32_t ListAudioRuns(const BoundaryList& list, int64_t totalSectors,
                      AudioRun (&runs)[MAX_AUDIO_RUNS]) {
    int32_t count = 0;
    int64_t passed = -1;
    int64_t runStart = -1;
    for (int32_t k = 0; k < BOUNDARY_LIST_SIZE && list[k] != END_SENTINEL; ++k) {
        passed = Larger(list[k], passed + 1);
        if (passed >= totalSectors) {
            break;
        }
        if (k % 2 == 0) {
            runStart = passed;
        } else {
            runs[count++] = AudioRun{runStart, passed};
            runStart = -1;
        }
    }
    // A run still open goes on to the end of the image.
    if (runStart >= 0) {
        runs[count++] = AudioRun{runStart, totalSectors};
    }
    return count;
}

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
    // Sector numbers stay below END_SENTINEL, so the sentinel is never passed. The job refuses a
    // larger image; one that grew past the limit fails at the end, as its size changed.
    const int64_t total = Smaller(size / SECTOR_SIZE, MAX_IMAGE_SECTORS);
    host.RewriteStarting(total);

    AudioRun audioRuns[MAX_AUDIO_RUNS];
    const int32_t audioRunCount = ListAudioRuns(list, total, audioRuns);
    int64_t i = 0;
    int32_t r = 0;  // the first audio run that has not ended before sector i
    int32_t preallocatedRun = -1;
    bool cancelled = false;
    while (i < total) {
        while (r < audioRunCount && audioRuns[r].end <= i) {
            ++r;
        }
        bool audio = r < audioRunCount && audioRuns[r].first <= i;
        // The class holds until the next audio run begins or this one ends.
        int64_t classEnd = r == audioRunCount ? total
                           : audio            ? audioRuns[r].end
                                              : audioRuns[r].first;
        int64_t nextProgress = (i / PROGRESS_INTERVAL + 1) * PROGRESS_INTERVAL;
        int64_t runEnd = Smaller(Smaller(classEnd, nextProgress), i + chunkSectors);
        int64_t from = i * SECTOR_SIZE;
        int64_t to = runEnd * SECTOR_SIZE;
        // Data before audio run r counts as 2r, the run itself as 2r + 1.
        int32_t run = 2 * r + (audio ? 1 : 0);
        if (run != preallocatedRun && (audio || !source.MayShareBlocks())) {
            // Room for the rest of the run, ahead of its writes; only a hint. None for data that
            // may share its blocks with the source, which would take no room of its own.
            target.Preallocate(from, (classEnd - i) * SECTOR_SIZE);
            preallocatedRun = run;
        }
        if (!(audio ? rewriter.Audio(from, to) : rewriter.Data(from, to))) {
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
    // A cancel or the end of the image ends the open region there, as a data sector would.
    bool closed = rewriter.status == RewriteStatus::Finished && rewriter.CloseRegion();
    if (closed && cancelled) {
        rewriter.status = RewriteStatus::Cancelled;
        // The target stays, shorter than the room set aside for it.
        target.ReleasePreallocation();
    } else if (closed) {
        // A source that grew while it was copied was cut at its first size: not a whole copy.
        int64_t sizeAtEnd = source.Size();
        if (sizeAtEnd != size) {
            rewriter.status = RewriteStatus::ReadFailed;
            rewriter.error = sizeAtEnd < 0 ? source.LastError() : 0;
        }
    }
    return {rewriter.status, static_cast<int32_t>(i), static_cast<int32_t>(total),
            rewriter.audioRegions, rewriter.error};
}

namespace {

// Writes output bytes [from, to) of the stream that lie in audio run `run`: what the shift
// brings there from the run, silence where it brings nothing.
RewriteStatus WriteShiftedAudio(DiscReader& source, File& target, int32_t byteShift,
                                const AudioRun& run, int64_t from, int64_t to, WorkArea& work,
                                int32_t* error) {
    const int64_t runFirst = run.first * SECTOR_SIZE;
    const int64_t runEnd = run.end * SECTOR_SIZE;
    const int64_t readFrom = Larger(from + byteShift, runFirst);
    const int64_t readTo = Larger(readFrom, Smaller(to + byteShift, runEnd));
    const int64_t before = Smaller(readFrom - (from + byteShift), to - from);
    const int64_t after = (to - from) - before - (readTo - readFrom);
    // The run's cut edge: bytes that the shift pushes out of it, read so that every byte is.
    const int64_t droppedFirst = byteShift > 0 ? runFirst : runEnd + byteShift;
    const int64_t droppedEnd = byteShift > 0 ? runFirst + byteShift : runEnd;
    const int64_t checkFrom = Larger(from, droppedFirst);
    const int64_t checkSize = Smaller(to, droppedEnd) - checkFrom;
    if (checkSize > 0 &&
        source.ReadAt(work.bytes, checkFrom, static_cast<int32_t>(checkSize)) != checkSize) {
        *error = source.LastError();
        return RewriteStatus::ReadFailed;
    }
    if (before > 0 && !target.Write(kSilence, static_cast<int32_t>(before))) {
        *error = target.LastError();
        return RewriteStatus::WriteFailed;
    }
    if (readTo > readFrom) {
        int64_t copied =
            source.CopyRange(target, readFrom, readTo - readFrom, work.bytes, sizeof(work.bytes));
        if (copied != readTo - readFrom) {
            *error = source.LastError();
            return copied == COPY_WRITE_FAILED ? RewriteStatus::WriteFailed
                                               : RewriteStatus::ReadFailed;
        }
    }
    if (after > 0 && !target.Write(kSilence, static_cast<int32_t>(after))) {
        *error = target.LastError();
        return RewriteStatus::WriteFailed;
    }
    return RewriteStatus::Finished;
}

}  // namespace

RewriteOutcome RewriteDiscFile(DiscReader& source, const DiscPlan& plan, int32_t file, File& target,
                               WorkArea& work, JobHost& host, int64_t doneBefore) {
    AudioRun runs[MAX_AUDIO_RUNS];
    const int32_t runCount = PlanAudioRuns(plan, runs);
    const int64_t first = plan.files[file].first;
    const int64_t total = plan.files[file].sectors;
    int32_t audioRegions = 0;
    int32_t error = 0;
    RewriteStatus status = RewriteStatus::Finished;
    int64_t i = first;
    int32_t r = 0;
    int32_t preallocatedRun = -1;
    while (i < first + total && status == RewriteStatus::Finished) {
        while (r < runCount && runs[r].end <= i) {
            ++r;
        }
        const bool audio = r < runCount && runs[r].first <= i;
        const int64_t classEnd = Smaller(first + total, r == runCount ? first + total
                                                        : audio       ? runs[r].end
                                                                      : runs[r].first);
        const int64_t written = i - first;
        const int64_t nextProgress = (written / PROGRESS_INTERVAL + 1) * PROGRESS_INTERVAL;
        const int64_t runEnd = Smaller(classEnd, first + nextProgress);
        const int64_t from = i * SECTOR_SIZE;
        const int64_t to = runEnd * SECTOR_SIZE;
        const int32_t classIndex = 2 * r + (audio ? 1 : 0);
        if (classIndex != preallocatedRun && (audio || !source.FileAt(file).MayShareBlocks())) {
            target.Preallocate(from - first * SECTOR_SIZE, (classEnd - i) * SECTOR_SIZE);
            preallocatedRun = classIndex;
        }
        if (audio) {
            audioRegions += i == Larger(first, runs[r].first) ? 1 : 0;
            status =
                WriteShiftedAudio(source, target, plan.byteShift, runs[r], from, to, work, &error);
        } else {
            int64_t copied = source.CopyAtSameOffset(file, target, from, to - from, work.bytes,
                                                     sizeof(work.bytes));
            if (copied != to - from) {
                status = copied == COPY_WRITE_FAILED ? RewriteStatus::WriteFailed
                                                     : RewriteStatus::ReadFailed;
                error = copied == COPY_WRITE_FAILED ? target.LastError() : source.LastError();
            }
        }
        if (status != RewriteStatus::Finished) {
            break;
        }
        i = runEnd;
        if ((i - first) % PROGRESS_INTERVAL == 0) {
            host.ShowProgress(static_cast<int32_t>(doneBefore + i - first));
            host.PumpMessages(PUMP_LIMIT);
            if (host.BusyFlag() == 0 && i < first + total) {
                status = RewriteStatus::Cancelled;
                target.ReleasePreallocation();
            }
        }
    }
    if (status == RewriteStatus::Finished && !source.SizesUnchanged()) {
        status = RewriteStatus::ReadFailed;
        error = source.LastError();
    }
    return {status, static_cast<int32_t>(i - first), static_cast<int32_t>(total), audioRegions,
            error};
}
