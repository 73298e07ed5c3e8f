// A whole job on a small image in a scratch folder, with the control file, the offset text, the
// image's length and the state of the folder all taken from the input. After every run the
// original bytes must be under the image name or the backup name; a finished job must have
// written the image that the model expects (the control file read by the model's own reading,
// a multi-session layout placed by its address mapping), and a refusal must have left every file
// as it was.
//
// Input: byte 0 = whole sectors, byte 1 = a partial sector's length, byte 2 = flags (below),
// byte 3 = seed of the image bytes, then the offset text up to the first LF, then the control
// file.
#include <ctype.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control_model.h"
#include "fuzz_folder.h"
#include "image_model.h"
#include "job_host.h"
#include "sector.h"
#include "shift_job.h"

namespace {

constexpr uint8_t kBackupPresent = 1;
constexpr uint8_t kImageMissing = 2;
constexpr uint8_t kControlMissing = 4;
constexpr uint8_t kControlIsFolder = 8;
constexpr size_t kMaxOffsetText = 64;

using Bytes = std::vector<uint8_t>;

void Check(bool ok, const char* what) {
    if (!ok) {
        fuzzing::Finding("shift_job", what);
    }
}

// The shift that the offset text asks for, read as atol would, and whether it is accepted.
bool AcceptedShift(const std::string& text, int32_t* shift) {
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    long long value = 0;
    for (; isdigit(static_cast<unsigned char>(*p)) && value < 100000; ++p) {
        value = value * 10 + (*p - '0');
    }
    value = negative ? -value : value;
    *shift = static_cast<int32_t>(value);
    return value >= MIN_SHIFT && value <= MAX_SHIFT;
}

// What the job must do with a control file of `bytes`, as the model reads it, for an image of
// `sectors` whole sectors: which sectors are audio, or the refusal of its layout.
struct Layout {
    ShiftResult refusal;  // Done when the layout is placed
    std::vector<bool> audio;
};

Layout ExpectedLayout(const std::string& bytes, int64_t sectors) {
    const model::PlacedReading placed = model::PlaceReading(model::ReadControl(bytes), sectors);
    switch (placed.placement) {
        case model::Placement::SizeMismatch:
            return {ShiftResult::SessionLayoutMismatch, {}};
        case model::Placement::Contradictory:
            return {ShiftResult::SessionLayoutInvalid, {}};
        case model::Placement::IndexPastImage:
            return {ShiftResult::TrackPastImage, {}};
        default:
            return {ShiftResult::Done, model::AudioSectors(placed.boundaries, sectors)};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const int64_t sectors = data[0];
    const size_t partial = data[1] % 4 == 0 ? 0 : data[1] * 9u;
    const uint8_t flags = data[2];
    const uint32_t seed = data[3];
    const uint8_t* rest = data + 4;
    const size_t restSize = size - 4;
    const uint8_t* lineEnd = static_cast<const uint8_t*>(memchr(rest, '\n', restSize));
    size_t offsetLength = lineEnd != nullptr ? static_cast<size_t>(lineEnd - rest) : restSize;
    const uint8_t* control = lineEnd != nullptr ? lineEnd + 1 : rest + restSize;
    const size_t controlSize = static_cast<size_t>(rest + restSize - control);
    if (offsetLength > kMaxOffsetText) {
        offsetLength = kMaxOffsetText;
    }
    // The host hands the text over as a C string: a NUL ends it.
    std::string offset(reinterpret_cast<const char*>(rest), offsetLength);
    offset = offset.c_str();

    const std::string& folder = fuzzing::ScratchFolder();
    const std::string controlPath = folder + "/disc.ccd";
    const std::string imagePath = folder + "/disc.img";
    const std::string backupPath = folder + "/disc.old";

    // Kept between runs: large allocations under the sanitizers cost more than the job.
    static Bytes image;
    static Bytes oldBackup;
    static Bytes imageAfter;
    static Bytes backupAfter;
    fuzzing::RandomBytes(seed, static_cast<size_t>(sectors) * SECTOR_SIZE + partial, &image);
    fuzzing::RandomBytes(seed + 1, 100, &oldBackup);
    const bool imagePresent = (flags & kImageMissing) == 0;
    const bool backupPresent = (flags & kBackupPresent) != 0;
    if (flags & kControlIsFolder) {
        Check(mkdir(controlPath.c_str(), 0755) == 0, "cannot make the control folder");
    } else if ((flags & kControlMissing) == 0) {
        Check(fuzzing::WriteWhole(controlPath, control, controlSize), "cannot write control");
    }
    if (imagePresent) {
        Check(fuzzing::WriteWhole(imagePath, image.data(), image.size()), "cannot write image");
    }
    if (backupPresent) {
        Check(fuzzing::WriteWhole(backupPath, oldBackup.data(), oldBackup.size()),
              "cannot write backup");
    }
    const std::vector<std::string> namesBefore = fuzzing::FolderNames(folder);
    // A control file that is missing or a folder reads as empty.
    const bool controlWritten = (flags & (kControlIsFolder | kControlMissing)) == 0;
    const Layout layout = ExpectedLayout(
        controlWritten ? std::string(reinterpret_cast<const char*>(control), controlSize) : "",
        sectors);

    NullJobHost host(offset.c_str());
    JobReport report;
    ShiftResult result = RunShiftJob(host, controlPath.c_str(), &report);

    const bool imageNow = fuzzing::ReadWhole(imagePath, &imageAfter);
    const bool backupNow = fuzzing::ReadWhole(backupPath, &backupAfter);
    const std::vector<std::string> namesAfter = fuzzing::FolderNames(folder);

    if (imagePresent) {
        Check((imageNow && imageAfter == image) || (backupNow && backupAfter == image),
              "the original bytes are under neither name");
    }

    int32_t shift = 0;
    ShiftResult expected = ShiftResult::Done;
    if (!AcceptedShift(offset, &shift)) {
        expected = ShiftResult::OffsetOutOfRange;
    } else if (backupPresent) {
        // The backup holds no whole sector, so no image beside it is shorter: only a missing one
        // makes it what an unfinished job leaves.
        expected = imagePresent ? ShiftResult::BackupExists : ShiftResult::UnfinishedJob;
    } else if (!imagePresent) {
        expected = ShiftResult::ImageMissing;
    } else {
        expected = layout.refusal;
    }
    Check(result == expected, "unexpected result");

    if (IsRefusal(result)) {
        Check(namesAfter == namesBefore, "a refusal changed the folder");
        Check(imageNow == imagePresent && (!imagePresent || imageAfter == image),
              "a refusal changed the image");
        Check(backupNow == backupPresent && (!backupPresent || backupAfter == oldBackup),
              "a refusal changed the backup");
    } else {
        Check(report.shift == shift, "the job read another shift");
        Check(backupNow && backupAfter == image, "the backup is not the original");
        Check(imageNow && imageAfter.size() == static_cast<size_t>(sectors) * SECTOR_SIZE,
              "the new image is not the whole sectors of the original");
        Check(imageAfter == model::ExpectedImage(image, layout.audio, shift),
              "the new image differs from the model");
        std::vector<std::string> names = namesBefore;
        names.push_back("disc.old");
        std::sort(names.begin(), names.end());
        Check(namesAfter == names, "the job left other files");
    }
    fuzzing::EmptyFolder(folder);
    return 0;
}
