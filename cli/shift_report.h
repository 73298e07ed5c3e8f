// What the image commands (--dat, --accuraterip, --checksums, --detect) share: the layout read
// as the shift job places it, their messages, and the path from a search's verdict to the shift
// applied and checked.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "collection.h"
#include "dat_command.h"
#include "image_scan.h"
#include "job_layout.h"
#include "shift_search.h"

constexpr int EXIT_NOT_MATCHED = 1;

// Says why the image could not be read, then "; nothing changed"; with `after`, that the image
// was already shifted, its original kept as `after`.
void PrintScanProblem(const char* controlPath, const std::string& imagePath,
                      const verify::ScanResult& scan, const char* after = nullptr);

// A name read from a DAT or a response as messages show it: cut to a fixed length (not inside a
// UTF-8 character), since the file may hold names of any length.
std::string Shown(const std::string& name);

// "+30", "-30", "0"
std::string ShiftText(int32_t shift);
// "-30: the audio moves 30 samples toward the start"
std::string ShiftInWords(int32_t shift);
// The tracks that differ, as "2, 5 and 7".
std::string TrackList(const std::vector<int32_t>& numbers);

// Reads the layout of the image as the shift job places it; false, said why, when it cannot.
bool ReadLayout(const char* controlPath, JobRunner& runner, verify::JobLayout& job);
// The verdict on an image whose layout ReadLayout could not read.
Verdict LayoutVerdict(const verify::JobLayout& job);
// The verdict on an image that could not be read as its control file lays it out.
Verdict ScanVerdict(const verify::ScanResult& scanned);

// A search's verdict on one image, in the words that every search's report shares.
struct SearchOutcome {
    verify::Verdict verdict;  // not NoEntryFits, which only the DAT search reports
    int32_t shift;
    int32_t matched;
    int32_t audioTracks;
    std::vector<int32_t> tiedShifts;
    bool moreTied;                   // more shifts tie than `tiedShifts` lists
    std::string against;             // what the tracks are matched with
    std::vector<int32_t> differing;  // the tracks that differ after `shift`
};

// Prints what the search's verdict means for the image and sets `*verdict` to the image's verdict
// before any job runs: with -n the one that the apply would end with, the tracks that would still
// differ after the shift said, so that a dry run passes only what the apply would. Returns true
// when the image is to be shifted.
bool ReportVerdict(const char* controlPath, const SearchOutcome& outcome, bool quiet, bool dryRun,
                   Verdict* verdict);

// After a long read: a cancel that came during it or before it ends the image here, touching
// nothing, and says so.
bool SaidCancelled(const char* controlPath, JobRunner& runner, ImageResult& result);

// Without -n, applies `shift` when it is not 0 and sets the image's verdict to what `check`
// makes of the result, or to the job's failure.
void ApplyFound(const char* controlPath, int32_t shift, const DatCommand& options,
                JobRunner& runner, JobReport& report, ImageResult& result,
                const std::function<Verdict()>& check);
