#include "job_layout.h"

#include "job_preview.h"

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
        bool opensSession = t > 0 && track.session != plan.tracks.tracks[t - 1].session;
        result.layout.tracks.push_back(
            {track.number, track.mode == 0, track.firstSector, opensSession});
        // A track without INDEX 1 starts at its INDEX 0.
        result.index1.push_back(track.startSector != NOT_GIVEN
                                    ? TrackIndex1{track.startSector, track.startAddress}
                                    : TrackIndex1{track.firstSector, track.firstSector});
    }
    result.imageSectors = plan.imageSectors;
    // A single-session control file without a table of contents: the image ends at the lead-out.
    result.leadOut = plan.tracks.leadOut != NOT_GIVEN ? plan.tracks.leadOut : plan.imageSectors;
    if (plan.sheet == SheetKind::CueSheet) {
        for (int32_t f = 0; f < plan.fileCount; ++f) {
            result.layout.files.push_back({plan.files[f].path, plan.files[f].sectors});
        }
    }
    // The regions exactly as the rewriter meets them, so that the shifts searched are the ones the
    // job would make.
    AudioRegion regions[MAX_AUDIO_REGIONS];
    int32_t count = ListAudioRegions(plan, regions, MAX_AUDIO_REGIONS);
    for (int32_t r = 0; r < count; ++r) {
        result.layout.audioRegions.push_back({regions[r].firstSector, regions[r].endSector});
    }
    return result;
}

}  // namespace verify
