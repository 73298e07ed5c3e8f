#include "image_model.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace model {

namespace {
constexpr int64_t kSector = 2352;
}

std::vector<bool> AudioSectors(const std::vector<int32_t>& boundaries, int64_t sectors) {
    std::vector<bool> audio(static_cast<size_t>(sectors));
    size_t passed = 0;
    for (int64_t i = 0; i < sectors; ++i) {
        if (passed < boundaries.size() && boundaries[passed] <= i) {
            ++passed;
        }
        audio[static_cast<size_t>(i)] = passed % 2 == 1;
    }
    return audio;
}

std::vector<bool> AudioSectorsFromRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges,
                                         int64_t sectors) {
    std::vector<bool> audio(static_cast<size_t>(sectors));
    for (const auto& range : ranges) {
        for (int64_t i = range.first; i < range.second && i < sectors; ++i) {
            audio[static_cast<size_t>(i)] = true;
        }
    }
    return audio;
}

int64_t SectorWithoutGaps(const std::vector<Session>& sessions, int64_t address) {
    int64_t stored = 0;  // image sectors taken by the sessions before
    for (size_t k = 0; k < sessions.size(); ++k) {
        const int64_t from = k == 0 ? 0 : sessions[k].firstTrack;
        if (address < sessions[k].leadOut) {
            return stored + std::max(address, from) - from;
        }
        stored += sessions[k].leadOut - from;
    }
    throw std::invalid_argument("an address after the last lead-out");
}

Bytes ExpectedImage(const Bytes& source, const std::vector<bool>& audio, int32_t shiftSamples) {
    const int64_t sectors = static_cast<int64_t>(audio.size());
    if (sectors * kSector > static_cast<int64_t>(source.size())) {
        throw std::invalid_argument("more sectors than the source holds");
    }
    Bytes out(source.begin(), source.begin() + sectors * kSector);
    const int64_t move = 4 * static_cast<int64_t>(shiftSamples);  // toward the end when > 0
    int64_t i = 0;
    while (i < sectors) {
        if (!audio[static_cast<size_t>(i)]) {
            ++i;
            continue;
        }
        int64_t end = i;
        while (end < sectors && audio[static_cast<size_t>(end)]) {
            ++end;
        }
        const int64_t first = i * kSector;
        const int64_t length = (end - i) * kSector;
        // Output byte n of the region comes from region byte n - move, silence outside.
        auto region = out.begin() + first;
        std::fill(region, region + length, uint8_t{0});
        const int64_t from = std::max<int64_t>(0, -move);
        const int64_t to = std::max<int64_t>(0, move);
        if (from < length && to < length) {
            const int64_t count = length - std::max(from, to);
            std::copy(source.begin() + first + from, source.begin() + first + from + count,
                      region + to);
        }
        i = end;
    }
    return out;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace model
