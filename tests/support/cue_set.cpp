#include "cue_set.h"

#include <stdio.h>

#include <random>

#include "scratch_dir.h"

namespace testing_support {

namespace {

constexpr int64_t kSector = 2352;

std::string Msf(int64_t sectors) {
    char text[64];
    snprintf(text, sizeof(text), "%02lld:%02lld:%02lld", static_cast<long long>(sectors / 4500),
             static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
    return text;
}

}  // namespace

CueSet PlaceCueSet(const std::string& folder, const std::string& stem,
                   const std::vector<CueTrack>& tracks, CueLayout layout, uint32_t seed) {
    CueSet set;
    std::string cue;
    int64_t first = 0;  // stream sector where the current track begins
    int64_t fileFirst = 0;
    int32_t session = 1;
    auto startFile = [&](const std::string& name, int64_t at) {
        if (!set.files.empty()) {
            set.fileSectors.push_back({fileFirst, at});
        }
        set.files.push_back(name);
        fileFirst = at;
        cue += "FILE \"" + name + "\" BINARY\n";
    };
    for (size_t t = 0; t < tracks.size(); ++t) {
        const CueTrack& track = tracks[t];
        char number[24];
        snprintf(number, sizeof(number), "%02zu", t + 1);
        const std::string name = stem + " (Track " + number + ").bin";
        if (track.session != session || (t == 0 && tracks.back().session > 1)) {
            session = track.session;
            cue += "REM SESSION 0" + std::to_string(session) + "\n";
        }
        // Gaps appended: a track's INDEX 00 sectors end the file before its own.
        const bool appended = layout == CueLayout::GapsAppended && t > 0 && track.index0 > 0;
        const bool newFile = t == 0 || layout == CueLayout::Split ||
                             (layout == CueLayout::GapsAppended && !appended);
        if (newFile) {
            startFile(layout == CueLayout::SingleFile ? stem + ".bin" : name, first);
        }
        cue += "  TRACK " + std::string(number) + (track.audio ? " AUDIO\n" : " MODE1/2352\n");
        cue += track.pregap > 0 ? "    PREGAP " + Msf(track.pregap) + "\n" : "";
        cue += track.index0 > 0 ? "    INDEX 00 " + Msf(first - fileFirst) + "\n" : "";
        if (appended) {
            startFile(name, first + track.index0);
        }
        cue += "    INDEX 01 " + Msf(first + track.index0 - fileFirst) + "\n";
        // The run goes on from the track before only across audio of one session and no gap.
        if (track.audio && t > 0 && tracks[t - 1].audio && tracks[t - 1].session == track.session &&
            track.pregap == 0) {
            set.runs.back().second += track.sectors;
        } else if (track.audio) {
            set.runs.push_back({first, first + track.sectors});
        }
        first += track.sectors;
    }
    set.fileSectors.push_back({fileFirst, first});
    std::mt19937 random(seed);
    set.stream = RandomBytes(random, static_cast<size_t>(first * kSector));
    for (size_t f = 0; f < set.files.size(); ++f) {
        model::WriteFileBytes(folder + "/" + set.files[f], FileBytes(set, set.stream, f));
    }
    WriteText(folder + "/" + stem + ".cue", cue);
    return set;
}

model::Bytes ExpectedStream(const CueSet& set, int32_t shift) {
    model::Bytes out;
    int64_t at = 0;
    auto append = [&](int64_t end, bool audio) {
        model::Bytes piece(set.stream.begin() + at * kSector, set.stream.begin() + end * kSector);
        model::Bytes moved = model::ExpectedImage(
            piece, std::vector<bool>(static_cast<size_t>(end - at), audio), shift);
        out.insert(out.end(), moved.begin(), moved.end());
        at = end;
    };
    for (const auto& run : set.runs) {
        append(run.first, false);
        append(run.second, true);
    }
    append(static_cast<int64_t>(set.stream.size()) / kSector, false);
    return out;
}

model::Bytes FileBytes(const CueSet& set, const model::Bytes& stream, size_t file) {
    return model::Bytes(stream.begin() + set.fileSectors[file].first * kSector,
                        stream.begin() + set.fileSectors[file].second * kSector);
}

}  // namespace testing_support
