#include "disc_fixture.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace fixture {

std::string MakeScratchFolder(const std::string& name) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    std::string folder;
    // Wine gives the same process ids again in a new session: skip folders of earlier runs.
    do {
        folder = std::string(base) + "kestran-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++counter);
    } while (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() == ERROR_ALREADY_EXISTS);
    folder += "\\" + name;
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

namespace {

Disc PlaceDisc(const std::string& folder, const std::string& name,
               const testing_support::Disc& made) {
    Disc disc;
    static_cast<testing_support::Disc&>(disc) = made;
    std::string stem = folder + "\\" + name;
    disc.controlPath = stem + ".ccd";
    disc.imagePath = stem + ".img";
    disc.backupPath = stem + ".old";
    testing_support::WriteDisc(disc, disc.controlPath, disc.imagePath);
    return disc;
}

}  // namespace

Disc MakeDisc(const std::string& folder, const std::string& name, int32_t sectors,
              int32_t audioStart, int32_t audioEnd, uint32_t seed, int32_t tail) {
    std::vector<testing_support::Run> runs;
    if (audioStart > 0) {
        runs.push_back({false, audioStart});
    }
    runs.push_back({true, audioEnd - audioStart});
    if (audioEnd < sectors) {
        runs.push_back({false, sectors - audioEnd});
    }
    return PlaceDisc(folder, name, testing_support::MakeDisc(runs, seed, tail));
}

Disc MakeSessionDisc(const std::string& folder, const std::string& name,
                     const testing_support::SessionDisc& sessions, bool gapStored, uint32_t seed,
                     int32_t tail) {
    return PlaceDisc(folder, name,
                     testing_support::MakeSessionDisc(sessions, gapStored, seed, tail));
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ExpectShifted(const Disc& disc, int32_t shift, int32_t processed) {
    ASSERT_TRUE(FileExists(disc.backupPath)) << disc.controlPath;
    EXPECT_TRUE(model::ReadFileBytes(disc.backupPath) == disc.image)
        << disc.backupPath << " differs from the original";
    std::vector<bool> audio = disc.audio;
    if (processed >= 0) {
        audio.resize(static_cast<size_t>(processed));
    }
    model::Bytes expected = model::ExpectedImage(disc.image, audio, shift);
    model::Bytes actual = model::ReadFileBytes(disc.imagePath);
    ASSERT_EQ(actual.size(), expected.size()) << disc.imagePath;
    EXPECT_TRUE(actual == expected) << disc.imagePath << " is not shifted by " << shift;
}

void ExpectUntouched(const Disc& disc) {
    EXPECT_FALSE(FileExists(disc.backupPath)) << disc.backupPath;
    EXPECT_TRUE(model::ReadFileBytes(disc.imagePath) == disc.image) << disc.imagePath << " changed";
}

}  // namespace fixture
