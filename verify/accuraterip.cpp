#include "accuraterip.h"

#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <set>

#include "file.h"
#include "sector.h"

namespace verify {

namespace {

constexpr int64_t kSamplesPerSector = SECTOR_SIZE / SAMPLE_SIZE;
constexpr int64_t kSkippedSamples = 5 * kSamplesPerSector;  // at the disc's audio edges
constexpr int64_t kFrame450 = 450 * kSamplesPerSector;
constexpr size_t kHeaderBytes = 13;
constexpr size_t kTrackBytes = 9;
constexpr int64_t kLargestResponse = 16 << 20;
// Past this many shifts at which the frame-450 checksums match alike, they say nothing.
constexpr size_t kFrame450Candidates = 16;
constexpr size_t kTiesListed = 4;

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t DigitSum(int64_t value) {
    int32_t sum = 0;
    for (; value > 0; value /= 10) {
        sum += static_cast<int32_t>(value % 10);
    }
    return sum;
}

}  // namespace

bool operator==(const DiscId& a, const DiscId& b) {
    return a.audioTracks == b.audioTracks && a.id1 == b.id1 && a.id2 == b.id2 && a.cddb == b.cddb;
}

DiscId ComputeDiscId(const std::vector<DiscAddress>& tracks, int64_t leadOut) {
    DiscId id;
    uint32_t digits = 0;
    for (const DiscAddress& track : tracks) {
        digits += DigitSum(track.address / 75 + 2);
        if (!track.audio) {
            continue;
        }
        ++id.audioTracks;
        id.id1 += static_cast<uint32_t>(track.address);
        id.id2 += static_cast<uint32_t>(std::max<int64_t>(track.address, 1) * id.audioTracks);
    }
    id.id1 += static_cast<uint32_t>(leadOut);
    id.id2 += static_cast<uint32_t>(std::max<int64_t>(leadOut, 1) * (id.audioTracks + 1));
    const int64_t first = tracks.empty() ? 0 : tracks.front().address;
    id.cddb = (digits % 255) << 24 | static_cast<uint32_t>(leadOut / 75 - first / 75) << 8 |
              static_cast<uint32_t>(tracks.size());
    return id;
}

std::string DiscIdText(const DiscId& id) {
    char text[40];
    snprintf(text, sizeof(text), "%03d-%08x-%08x-%08x", id.audioTracks, id.id1, id.id2, id.cddb);
    return text;
}

std::string ResponseFileName(const DiscId& id) {
    return "dBAR-" + DiscIdText(id) + ".bin";
}

std::string ResponseFolder(const DiscId& id) {
    const char* hex = "0123456789abcdef";
    std::string folder;
    for (int digit = 0; digit < 3; ++digit) {
        folder += hex[(id.id1 >> (4 * digit)) & 0xF];
        folder += '/';
    }
    return folder;
}

bool IdFromFileName(const char* path, DiscId& id) {
    const char* slash = strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    unsigned count = 0;
    char rest[8] = "";
    if (sscanf(name, "dBAR-%3u-%8x-%8x-%8x%7s", &count, &id.id1, &id.id2, &id.cddb, rest) != 5) {
        return false;
    }
    id.audioTracks = static_cast<int32_t>(count);
    return strcmp(rest, ".bin") == 0 && DiscIdText(id) == std::string(name + 5, 30);
}

ResponseLoad ParseResponse(const uint8_t* bytes, size_t size, const DiscId* named,
                           std::vector<ResponseChunk>& chunks) {
    chunks.clear();
    ResponseLoad load;
    if (size == 0) {
        load.status = ResponseStatus::Empty;
        return load;
    }
    if (size > static_cast<size_t>(kLargestResponse)) {
        load.status = ResponseStatus::TooLarge;
        return load;
    }
    std::vector<ResponseChunk> read;
    for (size_t at = 0; at < size;) {
        load.offset = static_cast<int64_t>(at);
        const size_t count = size - at >= 1 ? bytes[at] : 0;
        if (size - at < kHeaderBytes || size - at - kHeaderBytes < count * kTrackBytes) {
            load.status = ResponseStatus::Truncated;
            return load;
        }
        ResponseChunk chunk;
        chunk.id = {static_cast<int32_t>(count), Le32(bytes + at + 1), Le32(bytes + at + 5),
                    Le32(bytes + at + 9)};
        const DiscId& expected = named != nullptr ? *named : read.empty() ? chunk.id : read[0].id;
        if (!(chunk.id == expected)) {
            load.status = ResponseStatus::Mislabelled;
            load.expected = expected;
            load.found = chunk.id;
            return load;
        }
        at += kHeaderBytes;
        for (size_t t = 0; t < count; ++t, at += kTrackBytes) {
            chunk.tracks.push_back({bytes[at], Le32(bytes + at + 1), Le32(bytes + at + 5)});
        }
        read.push_back(std::move(chunk));
    }
    chunks = std::move(read);
    return load;
}

ResponseLoad LoadResponse(const char* path, std::vector<ResponseChunk>& chunks) {
    chunks.clear();
    ResponseLoad load;
    File file;
    if (!file.OpenForReading(path)) {
        load.status = ResponseStatus::CannotOpen;
        load.systemError = file.LastError();
        return load;
    }
    const int64_t size = file.Size();
    if (size < 0) {
        load.status = ResponseStatus::ReadFailed;
        load.systemError = file.LastError();
        return load;
    }
    if (size > kLargestResponse) {
        load.status = ResponseStatus::TooLarge;
        return load;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && file.ReadAt(bytes.data(), 0, static_cast<int32_t>(size)) != size) {
        load.status = ResponseStatus::ReadFailed;
        load.systemError = file.LastError();
        return load;
    }
    DiscId named;
    const bool hasName = IdFromFileName(path, named);
    return ParseResponse(bytes.data(), bytes.size(), hasName ? &named : nullptr, chunks);
}

ScanResult ChecksumScan::PlaceTracks(const JobLayout& job) {
    tracks_.clear();
    regions_.clear();
    const int64_t imageSamples = job.imageSectors * kSamplesPerSector;
    for (const SectorRange& range : job.layout.audioRegions) {
        const int64_t first = std::max<int64_t>(0, range.first) * kSamplesPerSector;
        const int64_t end = std::min(range.end * kSamplesPerSector, imageSamples);
        if (first < end) {
            regions_.push_back({first, end});
        }
    }
    const std::vector<TrackStart>& starts = job.layout.tracks;
    if (starts.empty()) {
        return {ScanStatus::NoTracks, 0, 0};
    }
    std::vector<DiscAddress> addresses;
    for (size_t t = 0; t < starts.size(); ++t) {
        ChecksumTrack track = {starts[t].number, starts[t].audio, 0, 0, 0, 0, 1, 0};
        track.first = job.index1[t].sector * kSamplesPerSector;
        track.end =
            t + 1 < starts.size() ? job.index1[t + 1].sector * kSamplesPerSector : imageSamples;
        track.end = std::min(track.end, imageSamples);
        if (track.first < 0 || track.first >= imageSamples) {
            return {ScanStatus::TrackPastEnd, 0, track.number};
        }
        if (track.end <= track.first) {
            return {ScanStatus::TracksOutOfOrder, 0, starts[t + 1].number};
        }
        if (track.audio) {
            auto region = std::find_if(regions_.begin(), regions_.end(), [&](const SectorRange& r) {
                return r.first <= track.first && track.first < r.end;
            });
            if (region == regions_.end()) {
                return {ScanStatus::CrossesRegionEdge, 0, track.number};
            }
            track.regionFirst = region->first;
            track.regionEnd = region->end;
            track.end = std::min(track.end, region->end);
        }
        track.countLast = track.end - track.first;
        tracks_.push_back(track);
        addresses.push_back({track.audio, job.index1[t].address});
    }
    auto firstAudio = std::find_if(tracks_.begin(), tracks_.end(),
                                   [](const ChecksumTrack& t) { return t.audio; });
    auto lastAudio = std::find_if(tracks_.rbegin(), tracks_.rend(),
                                  [](const ChecksumTrack& t) { return t.audio; });
    hasAudio_ = firstAudio != tracks_.end();
    if (hasAudio_) {
        firstAudio->countFirst = kSkippedSamples;
        lastAudio->countLast -= kSkippedSamples;
    }
    id_ = ComputeDiscId(addresses, job.leadOut);
    return {};
}

void ChecksumScan::PlanWindows() {
    std::vector<std::pair<int64_t, int64_t>> spans;  // [first, last] sample positions
    for (const ChecksumTrack& track : tracks_) {
        if (!track.audio) {
            continue;
        }
        const int64_t frame = track.first + kFrame450;
        const std::pair<int64_t, int64_t> wanted[] = {
            {track.first + track.countFirst - 1 - reach_,
             track.first + track.countFirst - 1 + reach_},
            {track.first + track.countLast - reach_, track.first + track.countLast + reach_},
            {frame - reach_, frame + kSamplesPerSector + reach_},
        };
        for (const auto& span : wanted) {
            const int64_t first =
                std::min(std::max(span.first, track.regionFirst), track.regionEnd);
            const int64_t last =
                std::max(std::min(span.second, track.regionEnd), track.regionFirst);
            spans.push_back({first, std::max(first, last)});
        }
    }
    std::sort(spans.begin(), spans.end());
    windows_.clear();
    for (const auto& span : spans) {
        if (!windows_.empty() &&
            span.first <=
                windows_.back().first + static_cast<int64_t>(windows_.back().sum.size())) {
            const size_t size = static_cast<size_t>(
                std::max<int64_t>(static_cast<int64_t>(windows_.back().sum.size()),
                                  span.second - windows_.back().first + 1));
            windows_.back().sum.resize(size);
            windows_.back().weightedSum.resize(size);
            continue;
        }
        const size_t size = static_cast<size_t>(span.second - span.first + 1);
        windows_.push_back({span.first, std::vector<uint32_t>(size), std::vector<uint32_t>(size)});
    }
}

ScanResult ChecksumScan::Run(const JobLayout& job, int32_t maxShift, bool withHashes) {
    image_ = {job.report.imagePath, job.layout.files};
    reach_ = std::max(0, maxShift);
    sums_.clear();
    ScanResult placed = PlaceTracks(job);
    if (placed.status != ScanStatus::Done) {
        return placed;
    }
    sums_.assign(tracks_.size(), TrackSums());
    PlanWindows();
    return ReadAudio(withHashes);
}

ScanResult ChecksumScan::ReadAudio(bool withHashes) {
    if (regions_.empty() && !withHashes) {
        return {};
    }
    // The hashes cover every track; the sums only the audio.
    const int64_t first = withHashes ? 0 : regions_.front().first;
    const int64_t end = withHashes ? tracks_.back().end : regions_.back().end;
    uint32_t sum = 0;
    uint32_t weighted = 0;
    size_t window = 0;
    std::vector<uint32_t> crc(tracks_.size(), static_cast<uint32_t>(crc32(0, nullptr, 0)));
    std::vector<uint32_t> v2(tracks_.size(), 0);
    Digest sha1(Digest::Kind::Sha1);
    bool audioStarted = false;
    int64_t pendingZeros = 0;  // silent samples that count only if sound follows
    static const uint8_t kZeros[SECTOR_SIZE] = {};
    auto hashAudio = [&](const uint8_t* bytes, int64_t count) {
        int64_t lastSound = -1;
        for (int64_t k = count - 1; k >= 0 && lastSound < 0; --k) {
            lastSound = Le32(bytes + 4 * k) != 0 ? k : -1;
        }
        if (lastSound < 0) {
            pendingZeros += audioStarted ? count : 0;
            return;
        }
        int64_t from = 0;
        while (!audioStarted && Le32(bytes + 4 * from) == 0) {
            ++from;
        }
        audioStarted = true;
        for (; pendingZeros > 0; pendingZeros -= kSamplesPerSector) {
            sha1.Update(kZeros, static_cast<size_t>(4 * std::min(pendingZeros, kSamplesPerSector)));
        }
        pendingZeros = count - 1 - lastSound;
        sha1.Update(bytes + 4 * from, static_cast<size_t>(4 * (lastSound + 1 - from)));
    };

    ScanResult read = ReadImageBytes(
        image_, first * SAMPLE_SIZE, end * SAMPLE_SIZE,
        [&](const uint8_t* bytes, int64_t position, int32_t size) {
            const int64_t base = position / SAMPLE_SIZE;
            const int64_t count = size / SAMPLE_SIZE;
            // The running sums, noted at every sample inside the windows.
            for (int64_t k = 0; k < count;) {
                int64_t stop = count;
                if (window < windows_.size()) {
                    SumWindow& current = windows_[window];
                    const int64_t inWindow = base + k - current.first;
                    if (inWindow >= 0) {
                        current.sum[inWindow] = sum;
                        current.weightedSum[inWindow] = weighted;
                        if (static_cast<size_t>(inWindow) + 1 == current.sum.size()) {
                            ++window;
                            continue;
                        }
                        stop = k + 1;
                    } else {
                        stop = std::min(count, current.first - base);
                    }
                }
                for (; k < stop; ++k) {
                    const uint32_t x = Le32(bytes + 4 * k);
                    sum += x;
                    weighted += static_cast<uint32_t>(base + k) * x;
                }
            }
            if (!withHashes) {
                return;
            }
            for (size_t t = 0; t < tracks_.size(); ++t) {
                const ChecksumTrack& track = tracks_[t];
                const int64_t from = std::max(track.first, base);
                const int64_t to = std::min(track.end, base + count);
                if (from >= to) {
                    continue;
                }
                const uint8_t* at = bytes + 4 * (from - base);
                crc[t] = static_cast<uint32_t>(
                    crc32_z(crc[t], at, static_cast<z_size_t>(4 * (to - from))));
                if (!track.audio) {
                    continue;
                }
                for (int64_t i = from; i < to; ++i) {
                    const uint64_t m = static_cast<uint64_t>(i - track.first + 1);
                    if (static_cast<int64_t>(m) >= track.countFirst &&
                        static_cast<int64_t>(m) <= track.countLast) {
                        const uint64_t product = m * Le32(bytes + 4 * (i - base));
                        v2[t] +=
                            static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
                    }
                }
            }
            for (const SectorRange& region : regions_) {
                const int64_t from = std::max(region.first, base);
                const int64_t to = std::min(region.end, base + count);
                if (from < to) {
                    hashAudio(bytes + 4 * (from - base), to - from);
                }
            }
        });
    if (read.status != ScanStatus::Done) {
        return read;
    }
    // Windows that end at the end of what was read take the sums of all of it.
    for (; window < windows_.size(); ++window) {
        windows_[window].sum.back() = sum;
        windows_[window].weightedSum.back() = weighted;
    }
    for (size_t t = 0; t < tracks_.size(); ++t) {
        sums_[t] = {crc[t], v2[t]};
    }
    sha1.Finish(audioSha1_.data());
    return {};
}

uint32_t ChecksumScan::WeightedRange(const ChecksumTrack& track, int64_t from, int64_t to,
                                     int64_t base) const {
    from = std::min(std::max(from, track.regionFirst), track.regionEnd);
    to = std::min(std::max(to, track.regionFirst), track.regionEnd);
    if (to <= from) {
        return 0;
    }
    auto at = [&](int64_t position, bool weighted) {
        auto after = std::upper_bound(
            windows_.begin(), windows_.end(), position,
            [](int64_t value, const SumWindow& window) { return value < window.first; });
        const SumWindow& window = *(after - 1);
        const size_t k = static_cast<size_t>(position - window.first);
        return weighted ? window.weightedSum[k] : window.sum[k];
    };
    const uint32_t weighted = at(to, true) - at(from, true);
    const uint32_t sum = at(to, false) - at(from, false);
    return weighted - static_cast<uint32_t>(base) * sum;
}

uint32_t ChecksumScan::V1(size_t track, int32_t offset) const {
    const ChecksumTrack& t = tracks_[track];
    if (t.countLast < t.countFirst) {
        return 0;
    }
    return WeightedRange(t, t.first + t.countFirst - 1 + offset, t.first + t.countLast + offset,
                         t.first - 1 + offset);
}

uint32_t ChecksumScan::Frame450(size_t track, int32_t offset) const {
    const ChecksumTrack& t = tracks_[track];
    const int64_t frame = t.first + kFrame450 + offset;
    return WeightedRange(t, frame, frame + kSamplesPerSector, frame - 1);
}

ScanResult ChecksumScan::V2(size_t track, const std::vector<int32_t>& offsets,
                            std::vector<uint32_t>& v2) const {
    const ChecksumTrack& t = tracks_[track];
    v2.assign(offsets.size(), 0);
    if (offsets.empty() || t.countLast < t.countFirst) {
        return {};
    }
    const auto range = std::minmax_element(offsets.begin(), offsets.end());
    const int64_t from = std::max(t.regionFirst, t.first + t.countFirst - 1 + *range.first);
    const int64_t to = std::min(t.regionEnd, t.first + t.countLast + *range.second);
    if (to <= from) {
        return {};
    }
    ScanResult read = ReadImageBytes(
        image_, from * SAMPLE_SIZE, to * SAMPLE_SIZE,
        [&](const uint8_t* bytes, int64_t position, int32_t size) {
            const int64_t base = position / SAMPLE_SIZE;
            for (size_t o = 0; o < offsets.size(); ++o) {
                // Sample i is multiplied by i - (first - 1 + offset) where that counts.
                const int64_t shiftBase = t.first - 1 + offsets[o];
                const int64_t lo = std::max(base, shiftBase + t.countFirst);
                const int64_t hi = std::min(base + size / SAMPLE_SIZE, shiftBase + t.countLast + 1);
                uint32_t total = v2[o];
                for (int64_t i = lo; i < hi; ++i) {
                    const uint64_t product =
                        static_cast<uint64_t>(i - shiftBase) * Le32(bytes + 4 * (i - base));
                    total += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
                }
                v2[o] = total;
            }
        });
    read.track = read.status == ScanStatus::Done ? 0 : t.number;
    return read;
}

namespace {

// Per audio track: the checksums that the response gives for it, each with its highest
// confidence, and its frame-450 checksums.
struct Wanted {
    std::map<uint32_t, int32_t> checksums;
    std::set<uint32_t> frames;
};

void Note(const Wanted& wanted, uint32_t checksum, bool v2, ArMatch& match) {
    auto found = wanted.checksums.find(checksum);
    if (found != wanted.checksums.end() && (!match.matched || found->second > match.confidence)) {
        match = {true, v2, found->second};
    }
}

}  // namespace

ScanResult FindArShift(const std::vector<ResponseChunk>& response, const ChecksumScan& scan,
                       int32_t minShift, int32_t maxShift, ArFinding& finding) {
    finding = ArFinding();
    const std::vector<ChecksumTrack>& tracks = scan.Tracks();
    std::vector<size_t> audio;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (tracks[t].audio) {
            audio.push_back(t);
        }
    }
    finding.audioTracks = static_cast<int32_t>(audio.size());
    const bool zeroInRange = minShift <= 0 && 0 <= maxShift;
    std::vector<Wanted> wanted(audio.size());
    for (const ResponseChunk& chunk : response) {
        for (size_t a = 0; a < audio.size() && a < chunk.tracks.size(); ++a) {
            const ResponseTrack& entry = chunk.tracks[a];
            if (entry.checksum == 0 && entry.confidence == 0) {
                continue;  // no data for this track
            }
            int32_t& confidence = wanted[a].checksums[entry.checksum];
            confidence = std::max<int32_t>(confidence, entry.confidence);
            wanted[a].frames.insert(entry.frame450);
        }
    }

    // By shift, each audio track's match: v1 at every shift; v2 only at 0 and at the shifts where
    // the most tracks' frame-450 checksums match, which a pressing's true offset is among.
    const size_t shifts = static_cast<size_t>(maxShift - minShift + 1);
    std::vector<std::vector<ArMatch>> matches(shifts, std::vector<ArMatch>(audio.size()));
    std::vector<int32_t> frameHits(shifts, 0);
    for (size_t a = 0; a < audio.size(); ++a) {
        for (int32_t shift = minShift; shift <= maxShift; ++shift) {
            const size_t s = static_cast<size_t>(shift - minShift);
            Note(wanted[a], scan.V1(audio[a], -shift), false, matches[s][a]);
            frameHits[s] += wanted[a].frames.count(scan.Frame450(audio[a], -shift)) != 0;
        }
    }
    const int32_t mostHits = *std::max_element(frameHits.begin(), frameHits.end());
    std::vector<int32_t> v2Offsets;
    for (int32_t shift = minShift; shift <= maxShift; ++shift) {
        if (shift == 0 ||
            (mostHits > 0 && frameHits[static_cast<size_t>(shift - minShift)] == mostHits)) {
            v2Offsets.push_back(-shift);
        }
    }
    // So many alike: silence, or a signal that repeats; v1 decides alone there.
    if (v2Offsets.size() > kFrame450Candidates) {
        v2Offsets.assign(zeroInRange ? 1 : 0, 0);
    }
    for (size_t a = 0; a < audio.size(); ++a) {
        std::vector<uint32_t> v2;
        ScanResult read = scan.V2(audio[a], v2Offsets, v2);
        if (read.status != ScanStatus::Done) {
            return read;
        }
        for (size_t o = 0; o < v2Offsets.size(); ++o) {
            Note(wanted[a], v2[o], true, matches[static_cast<size_t>(-v2Offsets[o] - minShift)][a]);
        }
    }

    auto count = [&](size_t s, int64_t* confidence) {
        int32_t matched = 0;
        *confidence = 0;
        for (const ArMatch& match : matches[s]) {
            matched += match.matched;
            *confidence += match.matched ? match.confidence : 0;
        }
        return matched;
    };
    auto place = [&](const std::vector<ArMatch>& byAudio) {
        std::vector<ArMatch> byTrack(tracks.size());
        for (size_t a = 0; a < audio.size(); ++a) {
            byTrack[audio[a]] = byAudio[a];
        }
        return byTrack;
    };
    if (zeroInRange) {
        finding.asIs = place(matches[static_cast<size_t>(-minShift)]);
    } else {
        finding.asIs.assign(tracks.size(), ArMatch());
    }
    int64_t zeroConfidence = 0;
    if (zeroInRange && !audio.empty() &&
        count(static_cast<size_t>(-minShift), &zeroConfidence) == finding.audioTracks) {
        finding.verdict = Verdict::AlreadyMatches;
        finding.matched = finding.audioTracks;
        finding.confidence = zeroConfidence;
        finding.shifted = finding.asIs;
        return {};
    }
    // The best: most tracks, then most confidence, then the smallest shift.
    int64_t bestConfidence = -1;
    int32_t best = 0;
    std::vector<int32_t> atBest;
    for (int32_t shift = minShift; shift <= maxShift; ++shift) {
        int64_t confidence = 0;
        const int32_t matched = count(static_cast<size_t>(shift - minShift), &confidence);
        if (matched > finding.matched) {
            finding.matched = matched;
            atBest.clear();
            bestConfidence = -1;
        }
        if (matched != finding.matched || matched == 0) {
            continue;
        }
        atBest.push_back(shift);
        if (confidence > bestConfidence ||
            (confidence == bestConfidence && std::abs(shift) < std::abs(best))) {
            best = shift;
            bestConfidence = confidence;
        }
    }
    if (finding.matched == 0) {
        finding.verdict = Verdict::NoAudioMatch;
        finding.shifted = finding.asIs;
        return {};
    }
    finding.shift = best;
    finding.confidence = bestConfidence;
    finding.shifted = place(matches[static_cast<size_t>(best - minShift)]);
    finding.tiedCount = static_cast<int32_t>(atBest.size()) - 1;
    for (int32_t shift : atBest) {
        if (shift != best && finding.tiedShifts.size() < kTiesListed) {
            finding.tiedShifts.push_back(shift);
        }
    }
    finding.verdict = finding.tiedCount > 0 ? Verdict::NotCertain : Verdict::ShiftFound;
    return {};
}

}  // namespace verify
