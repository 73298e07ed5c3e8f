#include "shift_search.h"

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace verify {

namespace {

// Past this many candidates read for confirmation without a decision, the CRC32 hits are
// taken as made up (a DAT built to collide) and the search gives up as not certain.
constexpr int32_t kConfirmationLimit = 32;

int64_t TrackSize(const ImageTrack& track) {
    return track.end - track.first;
}

bool Fits(const DatEntry& entry, const std::vector<ImageTrack>& tracks) {
    if (entry.tracks.size() != tracks.size()) {
        return false;
    }
    for (size_t t = 0; t < tracks.size(); ++t) {
        const DatRom& rom = entry.tracks[t];
        if (rom.size != TrackSize(tracks[t])) {
            return false;
        }
        // Data is never shifted: it must match as it is.
        if (!tracks[t].audio && !RomMatches(rom, rom.size, tracks[t].asIs)) {
            return false;
        }
    }
    return true;
}

std::vector<TrackMatch> MatchAsIs(const DatEntry& entry, const std::vector<ImageTrack>& tracks) {
    std::vector<TrackMatch> matches(tracks.size());
    for (size_t t = 0; t < tracks.size() && t < entry.tracks.size(); ++t) {
        const DatRom& rom = entry.tracks[t];
        matches[t].sizeFits = rom.size == TrackSize(tracks[t]);
        matches[t].asIs = RomMatches(rom, TrackSize(tracks[t]), tracks[t].asIs);
        matches[t].shifted = matches[t].asIs;
    }
    return matches;
}

// The entry nearest to the image: most tracks matching as they are, then most sizes equal,
// then the nearest number of tracks.
int32_t ClosestEntry(const Dat& dat, const std::vector<ImageTrack>& tracks) {
    int32_t closest = -1;
    int64_t bestScore = 0;
    for (size_t e = 0; e < dat.entries.size(); ++e) {
        int64_t matching = 0;
        int64_t sizes = 0;
        for (const TrackMatch& match : MatchAsIs(dat.entries[e], tracks)) {
            matching += match.asIs;
            sizes += match.sizeFits;
        }
        int64_t difference = std::abs(static_cast<int64_t>(dat.entries[e].tracks.size()) -
                                      static_cast<int64_t>(tracks.size()));
        int64_t score = (matching * 1000 + sizes) * 1000 - std::min<int64_t>(difference, 999);
        if (closest < 0 || score > bestScore) {
            closest = static_cast<int32_t>(e);
            bestScore = score;
        }
    }
    return closest;
}

struct Candidate {
    int32_t shift;
    int32_t entry;
    std::vector<int32_t> tracks;  // audio tracks whose CRC32 matches
};

// Confirms CRC32 hits by SHA-1, reading each shifted track at most once.
class Confirmer {
  public:
    Confirmer(const Dat& dat, const ImageScan& scan) : dat_(dat), scan_(scan) {}

    // Whether audio track `track` matches `entry`'s after `shift`, CRC32 aside.
    ScanResult Matches(int32_t entry, int32_t shift, int32_t track, bool& matches) {
        const DatRom& rom = dat_.entries[entry].tracks[track];
        const ImageTrack& image = scan_.Tracks()[track];
        if (shift == 0 || image.region < 0) {
            matches = RomMatches(rom, TrackSize(image), image.asIs);
            return {};
        }
        auto key = std::make_pair(shift, track);
        auto known = hashes_.find(key);
        if (known == hashes_.end()) {
            TrackHashes hashes;
            ScanResult read = scan_.HashShifted(static_cast<size_t>(track), shift, hashes);
            if (read.status != ScanStatus::Done) {
                return read;
            }
            known = hashes_.emplace(key, hashes).first;
        }
        matches = RomMatches(rom, TrackSize(image), known->second);
        return {};
    }

    ScanResult Count(const Candidate& candidate, int32_t& count) {
        count = 0;
        for (int32_t track : candidate.tracks) {
            bool matches = false;
            ScanResult read = Matches(candidate.entry, candidate.shift, track, matches);
            if (read.status != ScanStatus::Done) {
                return read;
            }
            count += matches;
        }
        return {};
    }

  private:
    const Dat& dat_;
    const ImageScan& scan_;
    std::map<std::pair<int32_t, int32_t>, TrackHashes> hashes_;
};

}  // namespace

bool RomMatches(const DatRom& rom, int64_t size, const TrackHashes& hashes) {
    return rom.size == size && rom.hasCrc && rom.hashes.crc == hashes.crc &&
           (!rom.hasSha1 || rom.hashes.sha1 == hashes.sha1);
}

ScanResult FindShift(const Dat& dat, const ImageScan& scan, int32_t minShift, int32_t maxShift,
                     ShiftFinding& finding) {
    finding = ShiftFinding();
    const std::vector<ImageTrack>& tracks = scan.Tracks();
    std::vector<int32_t> audio;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (tracks[t].audio) {
            audio.push_back(static_cast<int32_t>(t));
        }
    }
    finding.audioTracks = static_cast<int32_t>(audio.size());

    std::vector<int32_t> fitting;
    for (size_t e = 0; e < dat.entries.size(); ++e) {
        if (Fits(dat.entries[e], tracks)) {
            fitting.push_back(static_cast<int32_t>(e));
        }
    }
    if (fitting.empty()) {
        finding.verdict = Verdict::NoEntryFits;
        finding.entry = ClosestEntry(dat, tracks);
        if (finding.entry >= 0) {
            finding.tracks = MatchAsIs(dat.entries[finding.entry], tracks);
        }
        return {};
    }
    for (int32_t e : fitting) {
        std::vector<TrackMatch> matches = MatchAsIs(dat.entries[e], tracks);
        if (std::all_of(matches.begin(), matches.end(),
                        [](const TrackMatch& m) { return m.asIs; })) {
            finding.verdict = Verdict::AlreadyMatches;
            finding.entry = e;
            finding.matched = finding.audioTracks;
            finding.tracks = std::move(matches);
            return {};
        }
    }

    // Per audio track, the fitting entries by the CRC32 they want there.
    std::vector<std::unordered_multimap<uint32_t, int32_t>> wanted(audio.size());
    for (size_t a = 0; a < audio.size(); ++a) {
        for (int32_t e : fitting) {
            const DatRom& rom = dat.entries[e].tracks[audio[a]];
            if (rom.hasCrc) {
                wanted[a].emplace(rom.hashes.crc, e);
            }
        }
    }
    std::map<std::pair<int32_t, int32_t>, std::vector<int32_t>> hits;  // (shift, entry)
    for (int32_t shift = minShift; shift <= maxShift; ++shift) {
        for (size_t a = 0; a < audio.size(); ++a) {
            auto range =
                wanted[a].equal_range(scan.ShiftedCrc(static_cast<size_t>(audio[a]), shift));
            for (auto it = range.first; it != range.second; ++it) {
                hits[{shift, it->second}].push_back(audio[a]);
            }
        }
    }
    std::vector<Candidate> candidates;
    for (auto& hit : hits) {
        candidates.push_back({hit.first.first, hit.first.second, std::move(hit.second)});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.tracks.size() != b.tracks.size()) {
            return a.tracks.size() > b.tracks.size();
        }
        if (std::abs(a.shift) != std::abs(b.shift)) {
            return std::abs(a.shift) < std::abs(b.shift);
        }
        return a.shift != b.shift ? a.shift < b.shift : a.entry < b.entry;
    });

    // Confirm from the most CRC32 hits down, until no candidate left can reach the best count,
    // or a second shift has been seen to reach it.
    Confirmer confirmer(dat, scan);
    int32_t best = -1;
    int32_t bestCount = 0;
    std::vector<int32_t> shiftsAtBest;
    int32_t confirmations = 0;
    bool gaveUp = false;
    for (size_t c = 0; c < candidates.size(); ++c) {
        const Candidate& candidate = candidates[c];
        const int32_t bound = static_cast<int32_t>(candidate.tracks.size());
        if (bound < bestCount || (bound == bestCount && shiftsAtBest.size() >= 2)) {
            break;
        }
        if (bound == bestCount && std::find(shiftsAtBest.begin(), shiftsAtBest.end(),
                                            candidate.shift) != shiftsAtBest.end()) {
            continue;
        }
        if (++confirmations > kConfirmationLimit) {
            gaveUp = true;
            break;
        }
        int32_t count = 0;
        ScanResult read = confirmer.Count(candidate, count);
        if (read.status != ScanStatus::Done) {
            return read;
        }
        if (count > bestCount) {
            best = static_cast<int32_t>(c);
            bestCount = count;
            shiftsAtBest = {candidate.shift};
        } else if (count == bestCount && count > 0) {
            shiftsAtBest.push_back(candidate.shift);
        }
    }

    finding.entry = best >= 0 ? candidates[best].entry : fitting.front();
    finding.tracks = MatchAsIs(dat.entries[finding.entry], tracks);
    if (best < 0) {
        finding.verdict = Verdict::NoAudioMatch;
        return {};
    }
    finding.shift = candidates[best].shift;
    finding.matched = bestCount;
    if (gaveUp || shiftsAtBest.size() >= 2) {
        finding.verdict = Verdict::NotCertain;
        finding.tiedShifts.assign(shiftsAtBest.begin() + 1, shiftsAtBest.end());
        return {};
    }
    finding.verdict = Verdict::ShiftFound;
    for (int32_t track : audio) {
        finding.tracks[track].shifted = false;
    }
    for (int32_t track : candidates[best].tracks) {
        bool matches = false;
        ScanResult read = confirmer.Matches(finding.entry, finding.shift, track, matches);
        if (read.status != ScanStatus::Done) {
            return read;
        }
        finding.tracks[track].shifted = matches;
    }
    return {};
}

}  // namespace verify
