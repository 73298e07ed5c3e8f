#include "disc_plan.h"

#include "sector_rewriter.h"

bool IsCueSheetPath(const char* path) {
    return CompareNoCase(FindExtension(path), ".CUE") == 0;
}

int32_t PlanAudioRuns(const DiscPlan& plan, AudioRun (&runs)[MAX_AUDIO_RUNS]) {
    if (plan.sheet == SheetKind::ControlFile) {
        return ListAudioRuns(plan.boundaries, plan.imageSectors < 0 ? 0 : plan.imageSectors, runs);
    }
    for (int32_t r = 0; r < plan.runCount; ++r) {
        runs[r] = plan.runs[r];
    }
    return plan.runCount;
}
