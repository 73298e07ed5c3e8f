#include "job_preview.h"

#include <string.h>

#include "file.h"

static void AddRegion(AudioRegion* regions, int32_t capacity, int32_t* count, int64_t first,
                      int64_t end) {
    if (*count < capacity) {
        regions[(*count)++] = AudioRegion{first, end, 0, 0, 0, 0};
    }
}

int32_t ListAudioRegions(const JobPlan& plan, AudioRegion* regions, int32_t capacity) {
    const int64_t total = plan.imageSectors < 0 ? 0 : plan.imageSectors;
    int32_t count = 0;
    // As the rewriter does: boundary k is passed at the first sector that reaches its number and
    // lies after the sector where boundary k - 1 was passed; the sentinel is never passed.
    int64_t passed = -1;
    int64_t regionStart = -1;
    for (int32_t k = 0; k < BOUNDARY_LIST_SIZE && plan.boundaries[k] != END_SENTINEL; ++k) {
        passed = plan.boundaries[k] > passed + 1 ? plan.boundaries[k] : passed + 1;
        if (passed >= total) {
            break;
        }
        if (k % 2 == 0) {
            regionStart = passed;
        } else {
            AddRegion(regions, capacity, &count, regionStart, passed);
            regionStart = -1;
        }
    }
    // A region still open runs to the end of the image.
    if (regionStart >= 0) {
        AddRegion(regions, capacity, &count, regionStart, total);
    }
    for (int32_t r = 0; r < count; ++r) {
        for (int32_t t = 0; t < plan.tracks.count; ++t) {
            const TrackInfo& track = plan.tracks.tracks[t];
            if (track.mode == 0 && track.firstSector >= regions[r].firstSector &&
                track.firstSector < regions[r].endSector) {
                regions[r].firstTrack =
                    regions[r].firstTrack == 0 ? track.number : regions[r].firstTrack;
                regions[r].lastTrack = track.number;
            }
        }
    }
    return count;
}

bool PreviewShiftJob(const JobPlan& plan, JobPreview* preview) {
    memset(preview, 0, sizeof(*preview));
    preview->regionCount = ListAudioRegions(plan, preview->regions, MAX_AUDIO_REGIONS);
    if (plan.byteShift == 0 || preview->regionCount == 0) {
        return true;
    }
    File image;
    if (!image.OpenForReading(plan.imagePath)) {
        preview->error = image.LastError();
        return false;
    }
    const int32_t dropped = plan.byteShift < 0 ? -plan.byteShift : plan.byteShift;
    uint8_t bytes[MAX_BYTE_SHIFT];
    for (int32_t r = 0; r < preview->regionCount; ++r) {
        AudioRegion& region = preview->regions[r];
        int64_t start = region.firstSector * SECTOR_SIZE;
        int64_t end = region.endSector * SECTOR_SIZE;
        int32_t size = end - start < dropped ? static_cast<int32_t>(end - start) : dropped;
        int64_t from = plan.byteShift > 0 ? start : end - size;
        if (image.ReadAt(bytes, from, size) != size) {
            preview->error = image.LastError();
            return false;
        }
        region.droppedSamples = size / SAMPLE_SIZE;
        for (int32_t i = 0; i < size; i += SAMPLE_SIZE) {
            uint32_t sample = 0;
            memcpy(&sample, bytes + i, SAMPLE_SIZE);
            region.droppedNonZero += sample != 0 ? 1 : 0;
        }
    }
    return true;
}
