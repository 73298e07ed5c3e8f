#include "offset_detect.h"

#include <string.h>

#include <algorithm>

#include "sector.h"
#include "shift_job.h"

namespace verify {

namespace {

constexpr int32_t kScrambled = SECTOR_SIZE - 12;
constexpr int64_t kReach = MAX_BYTE_SHIFT;  // bytes that the largest shift moves
constexpr int64_t kSamplesPerSector = SECTOR_SIZE / SAMPLE_SIZE;
const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};

ScanResult ReadBytes(const ImageSource& path, int64_t first, int64_t end,
                     std::vector<uint8_t>& bytes) {
    bytes.clear();
    return ReadImageBytes(path, first, end, [&](const uint8_t* chunk, int64_t, int32_t size) {
        bytes.insert(bytes.end(), chunk, chunk + size);
    });
}

int32_t FromBcd(uint8_t value) {
    return (value >> 4) <= 9 && (value & 0xF) <= 9 ? (value >> 4) * 10 + (value & 0xF) : -1;
}

bool IsDataSector(const ImageLayout& layout, int64_t sector) {
    bool audio = true;
    for (const TrackStart& track : layout.tracks) {
        if (track.firstSector <= sector) {
            audio = track.audio;
        }
    }
    return !audio;
}

// The image sector of disc address `address`, by the track that starts nearest before it.
int64_t ImageSectorOf(const JobLayout& job, int64_t address) {
    int64_t distance = 0;
    for (const TrackIndex1& start : job.index1) {
        if (start.address <= address) {
            distance = start.address - start.sector;
        }
    }
    return address - distance;
}

// The longest run of whole samples that ends the scrambled data sectors before `region` and
// begins its audio.
ScanResult FindTail(const ImageSource& path, const SectorRange& region, int32_t track,
                    OffsetEvidence& evidence) {
    const int64_t sectors = std::min<int64_t>(region.first, kReach / SECTOR_SIZE + 1);
    std::vector<uint8_t> data;
    std::vector<uint8_t> audio;
    ScanResult read =
        ReadBytes(path, (region.first - sectors) * SECTOR_SIZE, region.first * SECTOR_SIZE, data);
    if (read.status == ScanStatus::Done) {
        read = ReadBytes(path, region.first * SECTOR_SIZE,
                         std::min(region.end * SECTOR_SIZE, region.first * SECTOR_SIZE + kReach),
                         audio);
    }
    if (read.status != ScanStatus::Done) {
        return read;
    }
    for (size_t at = 0; at < data.size(); at += SECTOR_SIZE) {
        for (int32_t i = 0; i < kScrambled; ++i) {
            data[at + 12 + i] ^= ScramblerTable()[i];
        }
    }
    for (size_t k = std::min(data.size(), audio.size()) & ~size_t{3}; k >= 4; k -= 4) {
        if (memcmp(data.data() + data.size() - k, audio.data(), k) == 0) {
            evidence.tails.push_back(
                {track, static_cast<int64_t>(k), -static_cast<int32_t>(k / SAMPLE_SIZE)});
            break;
        }
    }
    return {};
}

// Sync patterns within reach of the region's edges, at whole samples.
ScanResult FindSyncs(const JobLayout& job, const SectorRange& region, OffsetEvidence& evidence) {
    const int64_t regionFirst = region.first * SECTOR_SIZE;
    const int64_t regionEnd = region.end * SECTOR_SIZE;
    const int64_t span = kReach + SECTOR_SIZE;
    std::pair<int64_t, int64_t> windows[] = {
        {regionFirst, std::min(regionEnd, regionFirst + span)},
        {std::max(regionFirst + span, regionEnd - span), regionEnd},
    };
    for (const auto& window : windows) {
        std::vector<uint8_t> bytes;
        if (window.first >= window.second) {
            continue;
        }
        ScanResult read =
            ReadBytes({job.report.imagePath, job.layout.files}, window.first, window.second, bytes);
        if (read.status != ScanStatus::Done) {
            return read;
        }
        for (size_t p = 0; p + 16 <= bytes.size(); p += SAMPLE_SIZE) {
            if (memcmp(bytes.data() + p, kSync, sizeof(kSync)) != 0) {
                continue;
            }
            const int32_t m = FromBcd(bytes[p + 12] ^ ScramblerTable()[0]);
            const int32_t s = FromBcd(bytes[p + 13] ^ ScramblerTable()[1]);
            const int32_t f = FromBcd(bytes[p + 14] ^ ScramblerTable()[2]);
            if (m < 0 || s < 0 || s >= 60 || f < 0 || f >= 75) {
                continue;
            }
            const int64_t address = (m * 60 + s) * 75 + f - 150;
            const int64_t position = window.first + static_cast<int64_t>(p);
            const int64_t late =
                position / SAMPLE_SIZE - ImageSectorOf(job, address) * kSamplesPerSector;
            if (late >= MIN_SHIFT && late <= MAX_SHIFT) {
                evidence.syncs.push_back({position, address, static_cast<int32_t>(-late)});
            }
        }
    }
    return {};
}

// Narrows `silent` (by shift) to the shifts that leave samples [first, end) of the region
// silent: sample j after a shift s holds sample j - s before it.
ScanResult KeepSilentShifts(const ImageSource& path, const SectorRange& region, int64_t first,
                            int64_t end, std::vector<bool>& silent) {
    const int64_t reach = MAX_SHIFT;
    const int64_t regionFirst = region.first * kSamplesPerSector;
    const int64_t from = std::max(regionFirst, first - reach);
    const int64_t to = std::min(region.end * kSamplesPerSector, end + reach);
    std::vector<uint8_t> bytes;
    ScanResult read = ReadBytes(path, from * SAMPLE_SIZE, to * SAMPLE_SIZE, bytes);
    if (read.status != ScanStatus::Done) {
        return read;
    }
    // Sound before sample from + k, counted.
    std::vector<int64_t> sound(static_cast<size_t>(to - from) + 1, 0);
    for (size_t k = 0; k + 1 < sound.size(); ++k) {
        const uint8_t* x = bytes.data() + SAMPLE_SIZE * k;
        sound[k + 1] = sound[k] + ((x[0] | x[1] | x[2] | x[3]) != 0);
    }
    auto at = [&](int64_t sample) {
        return sound[static_cast<size_t>(std::min(std::max(sample, from), to) - from)];
    };
    for (int32_t shift = MIN_SHIFT; shift <= MAX_SHIFT; ++shift) {
        if (at(end - shift) != at(first - shift)) {
            silent[static_cast<size_t>(shift - MIN_SHIFT)] = false;
        }
    }
    return {};
}

}  // namespace

const uint8_t* ScramblerTable() {
    static uint8_t table[kScrambled];
    static bool made = false;
    if (!made) {
        uint32_t reg = 1;  // 15 bits, x^15 + x + 1, low bit first
        for (int32_t i = 0; i < kScrambled; ++i) {
            uint8_t byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                byte |= static_cast<uint8_t>((reg & 1) << bit);
                const uint32_t feedback = (reg ^ (reg >> 1)) & 1;
                reg = (reg >> 1) | (feedback << 14);
            }
            table[i] = byte;
        }
        made = true;
    }
    return table;
}

ScanResult DetectOffsets(const JobLayout& job, OffsetEvidence& evidence) {
    evidence = OffsetEvidence();
    const ImageSource path = {job.report.imagePath, job.layout.files};
    std::vector<bool> silent(MAX_SHIFT - MIN_SHIFT + 1, true);
    for (const SectorRange& range : job.layout.audioRegions) {
        const SectorRange region = {range.first, std::min(range.end, job.imageSectors)};
        if (region.first >= region.end) {
            continue;
        }
        int32_t firstTrack = 0;
        for (size_t t = 0; t < job.layout.tracks.size(); ++t) {
            const TrackStart& track = job.layout.tracks[t];
            const int64_t start = job.index1[t].sector;
            if (!track.audio || track.firstSector < region.first ||
                track.firstSector >= region.end) {
                continue;
            }
            firstTrack = firstTrack == 0 ? track.number : firstTrack;
            if (track.firstSector < start) {
                ++evidence.pregaps;
                ScanResult read =
                    KeepSilentShifts(path, region, track.firstSector * kSamplesPerSector,
                                     start * kSamplesPerSector, silent);
                if (read.status != ScanStatus::Done) {
                    return read;
                }
            }
        }
        if (region.first > 0 && IsDataSector(job.layout, region.first - 1)) {
            ++evidence.dataBeforeAudio;
            ScanResult read = FindTail(path, region, firstTrack, evidence);
            if (read.status != ScanStatus::Done) {
                return read;
            }
        }
        ScanResult read = FindSyncs(job, region, evidence);
        if (read.status != ScanStatus::Done) {
            return read;
        }
    }
    if (evidence.pregaps > 0) {
        for (int32_t shift = MIN_SHIFT; shift <= MAX_SHIFT; ++shift) {
            if (!silent[static_cast<size_t>(shift - MIN_SHIFT)]) {
                continue;
            }
            if (!evidence.silentShifts.empty() &&
                evidence.silentShifts.back().second == shift - 1) {
                evidence.silentShifts.back().second = shift;
            } else {
                evidence.silentShifts.push_back({shift, shift});
            }
        }
    }
    return {};
}

}  // namespace verify
