// The command line's DAT commands: `--dat FILE.dat [-n] FILE.ccd...` finds, applies and checks
// the shift that makes each image match its entry in a DAT file; `--hash FILE.ccd...` prints
// the images' track files as DAT entries.
#pragma once

#include <vector>

#include "collection.h"
#include "shift_job.h"

// What the DAT commands borrow from the rest of the command line.
class JobRunner {
  public:
    virtual ~JobRunner() = default;
    // Runs the shift job with `offsetText`, with the command line's progress line and Ctrl-C,
    // and prints its result line unless `quiet`. Returns Cancelled without running it once a
    // cancel was asked for.
    virtual ShiftResult RunJob(const char* controlPath, const char* offsetText, bool quiet,
                               JobReport& report) = 0;
    // Prints why a job is refused, from the report that its preparation filled.
    virtual void PrintRefusal(const JobReport& report, const char* controlPath) = 0;
    // 0, or the exit status of the cancel that the user asked for (Ctrl-C and the like).
    virtual int CancelStatus() = 0;
};

// What the command line's options ask of the DAT and AccurateRip commands.
struct DatCommand {
    const char* datPath;  // --dat FILE.dat; nullptr for --hash
    bool hash;
    bool dryRun;
    bool quiet;
    const char* responsePath;  // --accuraterip dBAR-....bin
    bool checksums;            // --checksums
    bool detect;               // --detect
};

// Runs the command over the control files, the DAT or the response loaded once; returns the
// exit status.
int RunDatCommand(const DatCommand& command, const std::vector<ListedFile>& files,
                  const RunOptions& run, JobRunner& runner);

// The AccurateRip commands: `--accuraterip dBAR-....bin [-n]` finds, applies and checks the
// shift that makes the audio tracks match a saved response, `--checksums` prints each image's
// checksums and disc id, `--detect` the shifts that the image itself points to.
int RunAccurateRipCommand(const DatCommand& command, const std::vector<ListedFile>& files,
                          const RunOptions& run, JobRunner& runner);
