#include "test_disc.h"

#include <stdio.h>
#include <string.h>

#include <random>
#include <utility>

namespace testing_support {

namespace {

constexpr int64_t kSector = 2352;

model::Bytes RandomImage(int64_t sectors, int32_t tail, uint32_t seed) {
    std::mt19937_64 random(seed);
    model::Bytes image(static_cast<size_t>(sectors * kSector + tail));
    for (size_t i = 0; i + 8 <= image.size(); i += 8) {
        uint64_t word = random();
        memcpy(&image[i], &word, 8);
    }
    for (size_t i = image.size() / 8 * 8; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(random());
    }
    return image;
}

std::string Entry(size_t index, int32_t session, int point, int adr, int32_t pMin, int64_t pLba) {
    char text[256];
    snprintf(text, sizeof(text),
             "[Entry %zu]\r\nSession=%d\r\nPoint=0x%02x\r\nADR=0x%02x\r\nControl=0x00\r\n"
             "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
             "PMin=%d\r\nPSec=0\r\nPFrame=0\r\nPLBA=%lld\r\n",
             index, session, point, adr, pMin, static_cast<long long>(pLba));
    return text;
}

int64_t FirstIndex(const SessionTrack& track) {
    return track.index0 >= 0 ? track.index0 : track.index1;
}

std::vector<model::Session> ModelSessions(const SessionDisc& disc) {
    std::vector<model::Session> sessions;
    for (size_t k = 0; k < disc.leadOuts.size(); ++k) {
        for (const SessionTrack& t : disc.tracks) {
            if (t.session == static_cast<int32_t>(k + 1)) {
                sessions.push_back({t.index1, disc.leadOuts[k]});
                break;
            }
        }
    }
    return sessions;
}

int64_t ImageSectors(const SessionDisc& disc, bool gapsStored) {
    const int64_t end = disc.leadOuts.back();
    return gapsStored ? end : model::SectorWithoutGaps(ModelSessions(disc), end - 1) + 1;
}

std::vector<bool> SessionAudio(const SessionDisc& disc, bool gapsStored) {
    const std::vector<model::Session> sessions = ModelSessions(disc);
    const int64_t sectors = ImageSectors(disc, gapsStored);
    auto place = [&](int64_t address) {
        return gapsStored ? address : model::SectorWithoutGaps(sessions, address);
    };
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (size_t i = 0; i < disc.tracks.size(); ++i) {
        if (disc.tracks[i].audio) {
            int64_t from = place(FirstIndex(disc.tracks[i]));
            int64_t to =
                i + 1 < disc.tracks.size() ? place(FirstIndex(disc.tracks[i + 1])) : sectors;
            ranges.push_back({from, to});
        }
    }
    return model::AudioSectorsFromRanges(ranges, sectors);
}

}  // namespace

Disc MakeDisc(const std::vector<Run>& runs, uint32_t seed, int32_t tail) {
    Disc disc;
    disc.sectors = 0;
    std::vector<std::pair<int64_t, int64_t>> ranges;
    std::string tracks;
    std::string entries;
    int number = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const int64_t start = disc.sectors;
        if (run.audio) {
            ranges.emplace_back(start, start + run.sectors);
        }
        ++number;
        // A track after one of the other kind has a pregap: the kind changes at its index 0.
        const bool pregap = r > 0 && runs[r - 1].audio != run.audio && run.sectors > 1;
        const std::string mode = run.audio ? "0" : std::to_string(run.dataMode);
        tracks += "[TRACK " + std::to_string(number) + "]\r\nMODE=" + mode + "\r\n";
        if (pregap) {
            tracks += "INDEX 0=" + std::to_string(start) + "\r\n";
        }
        tracks += "INDEX 1=" + std::to_string(start + (pregap ? 1 : 0)) + "\r\n";
        char point[16];
        snprintf(point, sizeof(point), "0x%02x", number);
        entries += "[Entry " + std::to_string(number + 2) + "]\r\nSession=1\r\nPoint=" + point +
                   "\r\nADR=0x01\r\nControl=0x0" + (run.audio ? "0" : "4") +
                   "\r\nPLBA=" + std::to_string(start) + "\r\n";
        disc.sectors += run.sectors;
    }
    disc.control = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(number + 3) +
                   "\r\nSessions=1\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n"
                   "[Session 1]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n" +
                   entries + tracks;
    disc.audio = model::AudioSectorsFromRanges(ranges, disc.sectors);
    disc.image = RandomImage(disc.sectors, tail, seed);
    return disc;
}

std::vector<Run> MixedRuns(int64_t sectors) {
    return {{false, 10}, {true, 20}, {false, 10, 2}, {true, sectors - 40}};
}

void WriteDisc(const Disc& disc, const std::string& controlPath, const std::string& imagePath) {
    model::WriteFileBytes(controlPath, model::Bytes(disc.control.begin(), disc.control.end()));
    model::WriteFileBytes(imagePath, disc.image);
}

Disc PlaceDisc(const std::string& folder, const std::string& stem, const std::vector<Run>& runs,
               uint32_t seed, int32_t tail) {
    Disc disc = MakeDisc(runs, seed, tail);
    WriteDisc(disc, folder + "/" + stem + ".ccd", folder + "/" + stem + ".img");
    return disc;
}

model::Bytes Expected(const Disc& disc, int32_t shift) {
    return model::ExpectedImage(disc.image, disc.audio, shift);
}

SessionDisc CdExtra(int64_t gap) {
    const int64_t leadOut = 800;
    const int64_t data = leadOut + gap;
    return {{{1, true, 0}, {1, true, 400}, {2, false, data, data - 150}}, {leadOut, data + 300}};
}

SessionDisc AudioSession(int64_t gap) {
    const int64_t audio = 300 + gap;
    return {{{1, false, 0, -1, 1}, {2, true, audio, audio - 150}, {2, true, audio + 400}},
            {300, audio + 800}};
}

std::string SessionControl(const SessionDisc& disc) {
    const int32_t sessions = static_cast<int32_t>(disc.leadOuts.size());
    std::vector<std::string> entries;
    for (int32_t k = 1; k <= sessions; ++k) {
        int32_t first = 0;
        int32_t last = 0;
        for (size_t i = 0; i < disc.tracks.size(); ++i) {
            if (disc.tracks[i].session == k) {
                first = first == 0 ? static_cast<int32_t>(i + 1) : first;
                last = static_cast<int32_t>(i + 1);
            }
        }
        size_t n = entries.size();
        entries.push_back(Entry(n, k, 0xa0, 1, first, (first * 60 + 0) * 75 - 150));
        entries.push_back(Entry(n + 1, k, 0xa1, 1, last, last * 4500 - 150));
        entries.push_back(Entry(n + 2, k, 0xa2, 1, 0, disc.leadOuts[k - 1]));
        if (k == 1 && sessions > 1) {
            entries.push_back(Entry(n + 3, k, 0xb0, 5, 79, 359849));
            entries.push_back(Entry(n + 4, k, 0xc0, 5, 97, -11634));
        }
        for (int32_t t = first; t != 0 && t <= last; ++t) {
            entries.push_back(Entry(entries.size(), k, t, 1, 0, disc.tracks[t - 1].index1));
        }
    }
    std::string text =
        "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(entries.size()) +
        "\r\nSessions=" + std::to_string(sessions) +
        "\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n";
    for (int32_t k = 1; k <= sessions; ++k) {
        text += "[Session " + std::to_string(k) + "]\r\nPreGapMode=0\r\nPreGapSubC=0\r\n";
    }
    for (const std::string& entry : entries) {
        text += entry;
    }
    for (size_t i = 0; i < disc.tracks.size(); ++i) {
        const SessionTrack& t = disc.tracks[i];
        text += "[TRACK " + std::to_string(i + 1) +
                "]\r\nMODE=" + std::to_string(t.audio ? 0 : t.dataMode) + "\r\n";
        if (t.index0 >= 0) {
            text += "INDEX 0=" + std::to_string(t.index0) + "\r\n";
        }
        text += "INDEX 1=" + std::to_string(t.index1) + "\r\n";
    }
    return text;
}

Disc MakeSessionDisc(const SessionDisc& sessions, bool gapsStored, uint32_t seed, int32_t tail) {
    Disc disc;
    disc.control = SessionControl(sessions);
    disc.sectors = ImageSectors(sessions, gapsStored);
    disc.audio = SessionAudio(sessions, gapsStored);
    disc.image = RandomImage(disc.sectors, tail, seed);
    return disc;
}

model::Bytes SignalSectors(int64_t sectors) {
    model::Bytes image(static_cast<size_t>(sectors) * 2352);
    uint32_t s = 1;
    for (size_t k = 0; k < image.size(); k += 4) {
        const uint32_t left = (s = s * 1664525u + 1013904223u) >> 16;
        const uint32_t right = (s = s * 1664525u + 1013904223u) >> 16;
        const uint32_t x = left | right << 16;
        for (int b = 0; b < 4; ++b) {
            image[k + b] = static_cast<uint8_t>(x >> (8 * b));
        }
    }
    return image;
}

std::string PlaceSignalDisc(const std::string& folder) {
    const std::string control =
        "[TRACK 1]\nMODE=0\nINDEX 1=0\n[TRACK 2]\nMODE=0\nINDEX 1=600\n"
        "[TRACK 3]\nMODE=0\nINDEX 1=1300\n";
    WriteDisc({control, SignalSectors(2100), {}, 2100}, folder + "/signal.ccd",
              folder + "/signal.img");
    return folder + "/signal.ccd";
}

}  // namespace testing_support
