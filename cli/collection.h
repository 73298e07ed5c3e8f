// A run over many images: the files that the arguments stand for (-r walks folders), each
// image's result as one fixed verdict, printed as prose or as a JSON line, the progress line
// over the whole run and the summary at its end.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

enum class Verdict {
    Matches,       // --dat: the image matches its entry as it is
    Shifted,       // the shift was applied (and, with --dat, every track then matches)
    ShiftFound,    // --dat -n: one shift makes the image match
    NotCertain,    // --dat: several shifts match as many tracks
    NoMatch,       // --dat: no shift makes any audio track match, or the best is 0 yet differs
    NoEntry,       // --dat: no entry has the image's track sizes and data tracks
    Damaged,       // the control file or the image cannot be read as a disc
    Refused,       // the job's own refusal: backup present, no audio, image missing...
    Failed,        // the job failed (the image put back), or the shifted image still differs
    Cancelled,     // Ctrl-C or the like while it was worked on
    WouldShift,    // shift -n
    PutBack,       // --undo
    WouldPutBack,  // --undo -n
    Hashed,        // --hash, --checksums
    Detected,      // --detect: the evidence of the dump offset read, nothing changed
};

// The word a script reads: "matches", "shift-found", ...
const char* VerdictWord(Verdict verdict);

enum class ShiftResult;
// The verdict on an image whose shift job ended with `result`.
Verdict VerdictOfJob(ShiftResult result);

struct TrackResult {
    int32_t number;
    bool audio;
    int64_t size;      // bytes
    std::string crc;   // as the image now is, 8 hex digits
    std::string md5;   // --hash only
    std::string sha1;  // --hash only
    int8_t matches;    // 1 or 0 against the DAT entry; -1 when not compared
};

// What one command made of one image; the prose said it already unless the run prints JSON.
struct ImageResult {
    Verdict verdict = Verdict::Failed;
    std::string entry;  // the DAT entry found, or the closest one
    bool hasShift = false;
    int32_t shift = 0;  // in this program's sign
    std::vector<TrackResult> tracks;
    int64_t bytesRead = 0;
};

// An argument, or a control file found under a folder argument; a folder that could not be
// read is listed with its error.
struct ListedFile {
    std::string path;
    int folderError = 0;
};

// The files the arguments stand for: with `recursive`, a folder stands for the .ccd and .cue
// files under it (any case), sorted by path, links to folders not followed.
std::vector<ListedFile> ListFiles(char** args, int count, bool recursive);

// Where the lines about the image being worked on go: stdout and stderr, or, in a JSON run,
// nowhere and a capture that becomes the image's "reason". Each call first clears the progress
// line from the terminal.
FILE* ImageOut();
FILE* ImageErr();

// The one progress line on the terminal (stderr): drawn over itself, cleared before other lines.
void DrawProgressLine(const char* text);
void ClearProgressLine();

// The whole run's progress, to put in front of an image's own progress ("image 3 of 40, ...");
// empty for a run of one image or without a progress line.
std::string RunProgressText();

struct RunOptions {
    bool json = false;
    bool quiet = false;
    bool progress = false;    // a progress line on the terminal
    bool collection = false;  // -r or --json: the run's progress and summary too
};

// Works `job` on every file in order, prints each result as soon as it is done (a JSON line,
// or the prose that the job printed), stops before the next file once `cancelStatus` gives
// other than 0, and in a collection run says the summary on stderr after more than one image.
// Returns 0 when every image ended well (verdicts matches, shifted, shift-found, would-shift,
// put-back, would-put-back, hashed), 1 otherwise.
int RunCollection(const std::vector<ListedFile>& files, const RunOptions& options,
                  const std::function<void(const char* path, ImageResult& result)>& job,
                  const std::function<int()>& cancelStatus);
