// Discs for tests: a control file laid out as imaging tools write it over random sectors, and
// the image that shifting it must give, by the image model.
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

}  // namespace testing_support
