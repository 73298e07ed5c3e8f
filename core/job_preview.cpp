#include "job_preview.h"

#include <string.h>

#include "disc_reader.h"

int32_t ListAudioRegions(const JobPlan& plan, AudioRegion* regions, int32_t capacity) {
    AudioRun runs[MAX_AUDIO_RUNS];
    int32_t count = PlanAudioRuns(plan, runs);
    count = count < capacity ? count : capacity;
    for (int32_t r = 0; r < count; ++r) {
        regions[r] = AudioRegion{runs[r].first, runs[r].end, 0, 0, 0, 0};
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
    DiscReader image;
    if (!image.Open(plan, false)) {
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
