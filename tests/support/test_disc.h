// Discs for tests: a control file laid out as imaging tools write it over random sectors, and
// the image that shifting it must give, by the image model. Multi-session discs are laid out as
// CloneCD writes them, their audio placed by the model's address mapping.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "image_model.h"

namespace testing_support {

// A run of tracks of one kind: audio (MODE=0) or data (MODE=`dataMode`).
struct Run {
    bool audio;
    int64_t sectors;
    int32_t dataMode = 1;
};

struct Disc {
    std::string control;      // the control file's text
    model::Bytes image;       // whole sectors, then `tail` bytes of a partial one
    std::vector<bool> audio;  // which whole sectors are audio
    int64_t sectors;
};

// A disc of the runs in order: each run is a track of its kind (a track after one of the other
// kind has a pregap index), the sectors are random, the control file is laid out as imaging
// tools write it.
Disc MakeDisc(const std::vector<Run>& runs, uint32_t seed, int32_t tail = 0);

// The mixed-mode layout of the job and command-line tests: data, audio from sector 10, mode 2
// data from 30, audio from 40 up to `sectors`.
std::vector<Run> MixedRuns(int64_t sectors = 60);

void WriteDisc(const Disc& disc, const std::string& controlPath, const std::string& imagePath);

// Makes the disc and writes it as STEM.ccd and STEM.img in `folder`.
Disc PlaceDisc(const std::string& folder, const std::string& stem, const std::vector<Run>& runs,
               uint32_t seed, int32_t tail = 0);

// The image that shifting `disc` by `shift` samples must give.
model::Bytes Expected(const Disc& disc, int32_t shift);

// One track by its disc addresses.
struct SessionTrack {
    int32_t session;
    bool audio;
    int64_t index1;
    int64_t index0 = -1;   // -1 without an INDEX 0 line
    int32_t dataMode = 2;  // MODE= of a data track
};

struct SessionDisc {
    std::vector<SessionTrack> tracks;  // numbered from 1 in this order
    std::vector<int64_t> leadOuts;     // of each session
};

// What lies between two sessions on a disc: lead-out, lead-in and the next track's pregap.
constexpr int64_t SESSION_GAP = 6750 + 4500 + 150;

// A CD-Extra: two audio tracks, then a data track in a second session `gap` sectors after the
// first session's lead-out, its INDEX 0 150 sectors before its INDEX 1.
SessionDisc CdExtra(int64_t gap = SESSION_GAP);
// A data track, then two audio tracks in a second session, the first with its INDEX 0 in the gap.
SessionDisc AudioSession(int64_t gap = SESSION_GAP);

// The control file: [Disc] with Sessions=, [Session n], [Entry n] for points 0xA0, 0xA1, 0xA2
// and each track (ADR 1) and, on a disc of several sessions, 0xB0 and 0xC0 (ADR 5) in the first,
// then [TRACK n] with MODE= and INDEX lines.
std::string SessionControl(const SessionDisc& disc);

// The disc over random sectors, up to the last lead-out with the gaps between the sessions stored
// or without them, and `tail` bytes more (fewer when negative). Its audio: each audio track from
// its first index (INDEX 0 when given) up to the next track's first index, the last up to the last
// lead-out, placed by the model.
Disc MakeSessionDisc(const SessionDisc& sessions, bool gapsStored, uint32_t seed, int32_t tail = 0);

// `sectors` of the signal s_0 = 1, s_(n+1) = s_n * 1664525 + 1013904223 (mod 2^32), sample k
// holding s_(2k+1) >> 16 on the left and s_(2k+2) >> 16 on the right: the AccurateRip vectors'.
model::Bytes SignalSectors(int64_t sectors);

// The vectors' disc: three audio tracks of 600, 700 and 800 sectors of the signal, nothing else,
// written as signal.ccd and signal.img in `folder`. Returns the control file's path.
std::string PlaceSignalDisc(const std::string& folder);

}  // namespace testing_support
