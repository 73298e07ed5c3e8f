// Fills the plan of a job from a cue sheet: the files it names, measured and placed one after
// the other, their backup names, the tracks and sessions, and the audio runs.
#pragma once

#include "shift_job.h"

class JobHost;

// Plans the set of the cue sheet at `cuePath`, touching no file. A file that is missing or
// shorter than its NAME.old is measured by the backup, as an unfinished job leaves it. With
// `checkBackups` (a shift), refuses a set where a rewritten file's backup name is taken: as an
// UnfinishedJob where that file is missing or shorter than its backup, otherwise BackupExists.
// With a `host`, its busy flag cancels the reading of the sheet.
ShiftResult PlanCueSet(const char* cuePath, DiscPlan* plan, JobReport& report, JobHost* host,
                       bool checkBackups);
