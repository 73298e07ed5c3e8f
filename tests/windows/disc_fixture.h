// Discs for the Windows tests: a control file and a random image in a scratch folder, and the
// checks of what a job left on disk, judged against the image model.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "image_model.h"
#include "test_disc.h"

namespace fixture {

// A new empty folder under the system's temporary folder; `name` may hold blanks.
std::string MakeScratchFolder(const std::string& name);

// The shared test disc (its image and which sectors are audio) and where it was written.
struct Disc : testing_support::Disc {
    std::string controlPath;  // ...\NAME.ccd
    std::string imagePath;    // ...\NAME.img
    std::string backupPath;   // ...\NAME.old
};

// Writes NAME.ccd and NAME.img in `folder`: data sectors [0, audioStart), audio up to
// audioEnd, data again to `sectors`; `tail` random bytes after the last whole sector.
Disc MakeDisc(const std::string& folder, const std::string& name, int32_t sectors,
              int32_t audioStart, int32_t audioEnd, uint32_t seed, int32_t tail = 0);

// Writes NAME.ccd and NAME.img of a multi-session test disc in `folder`, the gaps between the
// sessions stored or left out; a negative `tail` cuts that many bytes off the image.
Disc MakeSessionDisc(const std::string& folder, const std::string& name,
                     const testing_support::SessionDisc& sessions, bool gapStored, uint32_t seed,
                     int32_t tail = 0);

bool FileExists(const std::string& path);

// The disc was shifted by `shift` samples over its first `processed` sectors (all when -1):
// the backup holds the original and the image what the model expects.
void ExpectShifted(const Disc& disc, int32_t shift, int32_t processed = -1);

// Nothing happened: the image is unchanged and there is no backup.
void ExpectUntouched(const Disc& disc);

}  // namespace fixture
