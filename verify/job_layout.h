// The tracks and audio regions of an image as the shift job places them, taken from the core's
// preparation of the job.
#pragma once

#include <stdint.h>

#include "image_scan.h"
#include "shift_job.h"

namespace verify {

enum class LayoutProblem {
    None,
    TrackWithoutIndex,  // `track` has no INDEX line: where it starts is unknown
    TooManyTracks,      // more track sections than a disc holds
};

// Where a track's INDEX 1 lies, in the image and on the disc: the checksums and the disc id of
// AccurateRip go by it.
struct TrackIndex1 {
    int64_t sector;
    int64_t address;
};

struct JobLayout {
    ShiftResult result = ShiftResult::Done;  // a refusal of the preparation, which `report` details
    JobReport report;
    LayoutProblem problem = LayoutProblem::None;
    int32_t track = 0;
    ImageLayout layout;
    std::vector<TrackIndex1> index1;  // one per track of `layout`
    int64_t imageSectors = 0;
    int64_t leadOut = 0;  // the disc address of the last session's lead-out
};

// Places the tracks of `controlPath` in its image as the job's preparation does (without its
// checks of the shift and the backup, which reading the image does not need), touching no file,
// and converts what it found.
JobLayout ReadJobLayout(const char* controlPath);

}  // namespace verify
