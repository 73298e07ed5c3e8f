#include "job_layout.h"

namespace verify {

JobLayout ReadJobLayout(const char* controlPath) {
    JobLayout result;
    JobPlan plan;
    result.result = PlanImageLayout(controlPath, &plan, &result.report);
    if (result.result != ShiftResult::Done) {
        return result;
    }
    if (!plan.tracks.complete) {
        result.problem = LayoutProblem::TooManyTracks;
        return result;
    }
    for (int32_t t = 0; t < plan.tracks.count; ++t) {
        const TrackInfo& track = plan.tracks.tracks[t];
        if (track.firstSector == NOT_GIVEN) {
            result.problem = LayoutProblem::TrackWithoutIndex;
            result.track = track.number;
            return result;
        }
        result.layout.tracks.push_back({track.number, track.mode == 0, track.firstSector});
    }
    int64_t previous = -1;
    for (int32_t k = 0; k < BOUNDARY_LIST_SIZE && plan.boundaries[k] != END_SENTINEL; k += 2) {
        const int64_t first = plan.boundaries[k];
        const int64_t end = k + 1 < BOUNDARY_LIST_SIZE ? plan.boundaries[k + 1] : END_SENTINEL;
        if (first <= previous || end <= first) {
            result.problem = LayoutProblem::RegionsOutOfOrder;
            return result;
        }
        result.layout.audioRegions.push_back({first, end});
        if (end == END_SENTINEL) {
            break;
        }
        previous = end;
    }
    return result;
}

}  // namespace verify
