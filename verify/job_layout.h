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
    RegionsOutOfOrder,  // audio regions that do not follow one another
};

struct JobLayout {
    ShiftResult result = ShiftResult::Done;  // a refusal of the preparation, which `report` details
    JobReport report;
    LayoutProblem problem = LayoutProblem::None;
    int32_t track = 0;
    ImageLayout layout;
};

// Prepares the job for `controlPath` without touching any file and converts what it found.
// With `jobMustRun`, every check of a job with shift 0 is made, the backup absent included;
// without, only those that reading the image needs.
JobLayout ReadJobLayout(const char* controlPath, bool jobMustRun);

}  // namespace verify
