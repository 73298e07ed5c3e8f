// What a planned job would do, found without touching any file: the runs of audio sectors it
// would shift, with their tracks, and the samples that each run's cut edge would drop.
#pragma once

#include <stdint.h>

#include "sector_rewriter.h"
#include "shift_job.h"

// One run of audio sectors, as the rewriter meets it in the image.
struct AudioRegion {
    int64_t firstSector;  // image sectors [firstSector, endSector)
    int64_t endSector;
    int32_t firstTrack;  // the audio tracks that begin in it; 0 when the table names none
    int32_t lastTrack;
    int32_t droppedSamples;  // samples the shift pushes over the region's cut edge
    int32_t droppedNonZero;  // of those, the ones that are not silence
};

constexpr int32_t MAX_AUDIO_REGIONS = MAX_AUDIO_RUNS;

struct JobPreview {
    int32_t regionCount;
    AudioRegion regions[MAX_AUDIO_REGIONS];
    int32_t error;  // the system's code when the image could not be read
};

// Lists the audio regions of the image that the job of `plan` would shift, in image order, with
// their tracks; the dropped samples are left 0. Returns how many there are.
int32_t ListAudioRegions(const JobPlan& plan, AudioRegion* regions, int32_t capacity);

// Lists the regions and reads, from the image, the samples that each region's cut edge would
// drop: the region's first bytes when the audio moves toward the start, its last bytes when it
// moves toward the end. False when the image could not be read (`error` says why).
bool PreviewShiftJob(const JobPlan& plan, JobPreview* preview);
