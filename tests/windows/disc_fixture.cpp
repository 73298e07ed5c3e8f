#include "disc_fixture.h"

#include <windows.h>

#include <random>

#include "gtest/gtest.h"

namespace fixture {

std::string MakeScratchFolder(const std::string& name) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    std::string folder = std::string(base) + "kestran-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(++counter);
    CreateDirectoryA(folder.c_str(), NULL);
    folder += "\\" + name;
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

Disc MakeDisc(const std::string& folder, const std::string& name, int32_t sectors,
              int32_t audioStart, int32_t audioEnd, uint32_t seed, int32_t tail) {
    Disc disc;
    std::string stem = folder + "\\" + name;
    disc.controlPath = stem + ".ccd";
    disc.imagePath = stem + ".img";
    disc.backupPath = stem + ".old";

    std::mt19937 random(seed);
    disc.image.resize(static_cast<size_t>(sectors) * 2352 + tail);
    for (uint8_t& byte : disc.image) {
        byte = static_cast<uint8_t>(random());
    }
    model::WriteFileBytes(disc.imagePath, disc.image);

    std::string control = "[CloneCD]\r\nVersion=3\r\n[TRACK 1]\r\nMODE=1\r\nINDEX 1=0\r\n";
    control += "[TRACK 2]\r\nMODE=0\r\nINDEX 1=" + std::to_string(audioStart) + "\r\n";
    if (audioEnd < sectors) {
        control += "[TRACK 3]\r\nMODE=1\r\nINDEX 1=" + std::to_string(audioEnd) + "\r\n";
    }
    model::WriteFileBytes(disc.controlPath, model::Bytes(control.begin(), control.end()));
    disc.audio = model::AudioSectorsFromRanges({{audioStart, audioEnd}}, sectors);
    return disc;
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
