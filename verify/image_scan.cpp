#include "image_scan.h"

#include <zlib.h>

#include <algorithm>

#include "disc_reader.h"
#include "file.h"
#include "sector.h"

namespace verify {

namespace {

constexpr int32_t kChunkBytes = 1 << 20;  // a multiple of 4: CRC windows step by 4 bytes
constexpr int64_t kStep = SAMPLE_SIZE;

// Multiplies a CRC by the operator of a length: what crc32_combine does to its first CRC.
uint32_t Apply(uint32_t crc, uint32_t op) {
    return static_cast<uint32_t>(crc32_combine_op(crc, 0, op));
}

// The operator of a length, from zlib's of lengths below 2^30: its length type is 32 bits on
// Windows.
uint32_t ZlibLengthOperator(int64_t length) {
    constexpr int64_t kPiece = int64_t{1} << 30;
    uint32_t op = static_cast<uint32_t>(crc32_combine_gen(static_cast<z_off_t>(length % kPiece)));
    for (int64_t pieces = length / kPiece; pieces > 0; --pieces) {
        op = Apply(op, static_cast<uint32_t>(crc32_combine_gen(static_cast<z_off_t>(kPiece))));
    }
    return op;
}

uint32_t Crc(uint32_t crc, const uint8_t* bytes, int64_t size) {
    return static_cast<uint32_t>(crc32_z(crc, bytes, static_cast<z_size_t>(size)));
}

}  // namespace

namespace {

// Opens the image's files as one stream. A file of another size than planned has changed since:
// it reads as cut short.
ScanResult OpenImage(const ImageSource& source, DiscReader& image) {
    bool opened = source.files.empty() ? image.Add(source.path.c_str(), -1) : true;
    for (const ImageFile& file : source.files) {
        opened = opened && image.Add(file.path.c_str(), file.sectors);
    }
    if (opened) {
        return {};
    }
    return {image.LastError() != 0 ? ScanStatus::CannotOpen : ScanStatus::ReadFailed,
            image.LastError(), 0};
}

}  // namespace

ScanResult MeasureImage(const ImageSource& source, int64_t* sectors) {
    DiscReader image;
    ScanResult opened = OpenImage(source, image);
    *sectors = image.Bytes() / SECTOR_SIZE;
    return opened;
}

ScanResult ReadImageBytes(const ImageSource& source, int64_t first, int64_t end,
                          const ChunkReader& take) {
    DiscReader image;
    ScanResult opened = OpenImage(source, image);
    if (opened.status != ScanStatus::Done) {
        return opened;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(kChunkBytes, end - first)));
    for (int64_t position = first; position < end;) {
        const int32_t size = static_cast<int32_t>(std::min<int64_t>(kChunkBytes, end - position));
        // ReadAt reads on to the end of the file: fewer bytes mean the image became shorter.
        const int32_t got = image.ReadAt(buffer.data(), position, size);
        if (got != size) {
            return {ScanStatus::ReadFailed, got < 0 ? image.LastError() : 0, 0};
        }
        take(buffer.data(), position, size);
        position += size;
    }
    return {};
}

ScanResult ImageScan::Run(const std::string& imagePath, const ImageLayout& layout, int32_t maxShift,
                          bool withMd5) {
    image_ = {imagePath, layout.files};
    reach_ = kStep * std::max(0, maxShift);
    tracks_.clear();
    regions_.clear();
    windows_.clear();
    lengthOperators_.clear();

    int64_t sectors = 0;
    ScanResult opened = MeasureImage(image_, &sectors);
    if (opened.status != ScanStatus::Done) {
        return opened;
    }
    ScanResult checked = CheckLayout(layout, sectors);
    if (checked.status != ScanStatus::Done) {
        return checked;
    }

    const size_t zeroSteps = static_cast<size_t>(reach_ / kStep) + 2;
    static const uint8_t kZeros[kStep] = {};
    zeroCrc_.assign(zeroSteps, 0);
    zeroOperator_.assign(zeroSteps, ZlibLengthOperator(0));
    for (size_t k = 1; k < zeroSteps; ++k) {
        zeroCrc_[k] = Crc(zeroCrc_[k - 1], kZeros, kStep);
        zeroOperator_[k] =
            k == 1 ? ZlibLengthOperator(kStep) : Apply(zeroOperator_[k - 1], zeroOperator_[1]);
    }
    // Moved tracks need the operator of every length that a shift leaves to be read; the
    // others only that of their own length.
    lengthOperators_.resize(tracks_.size());
    for (size_t t = 0; t < tracks_.size(); ++t) {
        const int64_t length = tracks_[t].end - tracks_[t].first;
        const int64_t shortest =
            tracks_[t].region < 0 ? length : std::max<int64_t>(0, length - reach_);
        std::vector<uint32_t>& ops = lengthOperators_[t];
        ops.resize(static_cast<size_t>((length - shortest) / kStep) + 1);
        ops.back() = ZlibLengthOperator(shortest);
        for (size_t j = ops.size() - 1; j > 0; --j) {
            ops[j - 1] = Apply(ops[j], zeroOperator_[1]);
        }
    }
    PlanWindows();
    return ReadImage(withMd5);
}

ScanResult ImageScan::CheckLayout(const ImageLayout& layout, int64_t imageSectors) {
    imageBytes_ = imageSectors * SECTOR_SIZE;
    if (layout.tracks.empty()) {
        return {ScanStatus::NoTracks, 0, 0};
    }
    for (const SectorRange& range : layout.audioRegions) {
        int64_t first = std::max<int64_t>(0, range.first);
        int64_t end = std::min(range.end, imageSectors);
        if (first < end) {
            regions_.push_back({first * SECTOR_SIZE, end * SECTOR_SIZE});
        }
    }
    for (size_t t = 0; t < layout.tracks.size(); ++t) {
        const TrackStart& start = layout.tracks[t];
        if (t > 0 && start.firstSector <= layout.tracks[t - 1].firstSector) {
            return {ScanStatus::TracksOutOfOrder, 0, start.number};
        }
        if (start.firstSector < 0 || start.firstSector >= imageSectors) {
            return {ScanStatus::TrackPastEnd, 0, start.number};
        }
        ImageTrack track;
        track.number = start.number;
        track.audio = start.audio;
        track.opensSession = start.opensSession;
        track.first = start.firstSector * SECTOR_SIZE;
        track.end = t + 1 < layout.tracks.size() ? layout.tracks[t + 1].firstSector * SECTOR_SIZE
                                                 : imageBytes_;
        track.region = -1;
        for (size_t r = 0; r < regions_.size(); ++r) {
            const SectorRange& region = regions_[r];
            bool overlaps = region.first < track.end && track.first < region.end;
            if (!overlaps) {
                continue;
            }
            if (track.first < region.first || region.end < track.end) {
                return {ScanStatus::CrossesRegionEdge, 0, start.number};
            }
            if (!track.audio) {
                return {ScanStatus::DataInAudioRegion, 0, start.number};
            }
            track.region = static_cast<int32_t>(r);
        }
        tracks_.push_back(track);
    }
    return {};
}

void ImageScan::PlanWindows() {
    std::vector<std::pair<int64_t, int64_t>> spans;  // [first, last] positions
    for (const ImageTrack& track : tracks_) {
        for (int64_t edge : {track.first, track.end}) {
            if (track.region < 0) {
                spans.push_back({edge, edge});
            } else {
                const SectorRange& region = regions_[track.region];
                spans.push_back(
                    {std::max(region.first, edge - reach_), std::min(region.end, edge + reach_)});
            }
        }
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int64_t, int64_t>> merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second + kStep) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    for (const auto& span : merged) {
        windows_.push_back({span.first, std::vector<uint32_t>(static_cast<size_t>(
                                            (span.second - span.first) / kStep + 1))});
    }
}

ScanResult ImageScan::ReadImage(bool withMd5) {
    Digest sha1(Digest::Kind::Sha1);
    Digest md5(Digest::Kind::Md5);
    uint32_t crc = 0;
    size_t window = 0;
    size_t track = 0;
    ScanResult read = ReadImageBytes(
        image_, 0, imageBytes_, [&](const uint8_t* bytes, int64_t position, int32_t size) {
            // Each track's digests, over the part of the chunk that it covers.
            for (int64_t at = position; at < position + size && track < tracks_.size();) {
                ImageTrack& current = tracks_[track];
                if (at < current.first) {
                    at = std::min(current.first, position + size);
                    continue;
                }
                int64_t stop = std::min(current.end, position + size);
                sha1.Update(bytes + (at - position), static_cast<size_t>(stop - at));
                if (withMd5) {
                    md5.Update(bytes + (at - position), static_cast<size_t>(stop - at));
                }
                at = stop;
                if (stop == current.end) {
                    sha1.Finish(current.asIs.sha1.data());
                    md5.Finish(current.asIs.md5.data());
                    ++track;
                }
            }
            // The running CRC, noted at every fourth byte inside the windows.
            for (int32_t i = 0; i < size;) {
                const int64_t at = position + i;
                if (window < windows_.size() && at >= windows_[window].first) {
                    CrcWindow& current = windows_[window];
                    size_t k = static_cast<size_t>((at - current.first) / kStep);
                    current.prefix[k] = crc;
                    if (k + 1 == current.prefix.size()) {
                        ++window;
                        continue;
                    }
                    crc = Crc(crc, bytes + i, kStep);
                    i += kStep;
                    continue;
                }
                int64_t stop = position + size;
                if (window < windows_.size()) {
                    stop = std::min(stop, windows_[window].first);
                }
                crc = Crc(crc, bytes + i, stop - at);
                i += static_cast<int32_t>(stop - at);
            }
        });
    if (read.status != ScanStatus::Done) {
        return read;
    }
    // Windows that end at the image's end take the CRC of the whole image last.
    for (; window < windows_.size(); ++window) {
        windows_[window].prefix.back() = crc;
    }
    for (size_t t = 0; t < tracks_.size(); ++t) {
        tracks_[t].asIs.crc = ShiftedCrc(t, 0);
    }
    return {};
}

uint32_t ImageScan::PrefixAt(int64_t position) const {
    auto after = std::upper_bound(
        windows_.begin(), windows_.end(), position,
        [](int64_t value, const CrcWindow& window) { return value < window.first; });
    const CrcWindow& window = *(after - 1);
    return window.prefix[static_cast<size_t>((position - window.first) / kStep)];
}

uint32_t ImageScan::LengthOperator(size_t track, int64_t length) const {
    const ImageTrack& t = tracks_[track];
    return lengthOperators_[track][static_cast<size_t>((t.end - t.first - length) / kStep)];
}

ImageScan::Source ImageScan::SourceOf(size_t track, int32_t shift) const {
    const ImageTrack& t = tracks_[track];
    const int64_t length = t.end - t.first;
    if (t.region < 0 || shift == 0) {
        return {0, t.first, t.end, 0};
    }
    // Output byte x of a region comes from byte x + byteShift, silence outside the region.
    const int64_t byteShift = -kStep * shift;
    const SectorRange& region = regions_[t.region];
    const int64_t from = t.first + byteShift;
    const int64_t to = t.end + byteShift;
    const int64_t before = std::min(length, std::max<int64_t>(0, region.first - from));
    const int64_t read =
        std::max<int64_t>(0, std::min(to, region.end) - std::max(from, region.first));
    const int64_t start = std::max(from, region.first);
    return {before, start, start + read, length - before - read};
}

uint32_t ImageScan::ShiftedCrc(size_t track, int32_t shift) const {
    const Source source = SourceOf(track, shift);
    const int64_t read = source.to - source.from;
    if (read == 0) {
        return zeroCrc_[static_cast<size_t>((source.silenceBefore + source.silenceAfter) / kStep)];
    }
    const uint32_t op = LengthOperator(track, read);
    // crc(silence + bytes) = crc(silence) × x^bytes + crc(image to `to`) − crc(image to `from`) ×
    // x^bytes
    uint32_t crc =
        Apply(zeroCrc_[static_cast<size_t>(source.silenceBefore / kStep)] ^ PrefixAt(source.from),
              op) ^
        PrefixAt(source.to);
    if (source.silenceAfter > 0) {
        const size_t k = static_cast<size_t>(source.silenceAfter / kStep);
        crc = Apply(crc, zeroOperator_[k]) ^ zeroCrc_[k];
    }
    return crc;
}

TrackSilence ImageScan::Silence(size_t track, int32_t shift) const {
    const Source source = SourceOf(track, shift);
    return {source.silenceBefore, source.silenceAfter};
}

ScanResult ImageScan::HashShifted(size_t track, int32_t shift, TrackHashes& hashes) const {
    const Source source = SourceOf(track, shift);
    Digest sha1(Digest::Kind::Sha1);
    uint32_t crc = 0;
    auto add = [&](const uint8_t* bytes, int64_t size) {
        crc = Crc(crc, bytes, size);
        sha1.Update(bytes, static_cast<size_t>(size));
    };
    const std::vector<uint8_t> zeros(static_cast<size_t>(reach_ + kStep), 0);
    add(zeros.data(), source.silenceBefore);
    ScanResult read =
        ReadImageBytes(image_, source.from, source.to,
                       [&](const uint8_t* bytes, int64_t, int32_t size) { add(bytes, size); });
    if (read.status != ScanStatus::Done) {
        read.track = tracks_[track].number;
        return read;
    }
    add(zeros.data(), source.silenceAfter);
    hashes.crc = crc;
    sha1.Finish(hashes.sha1.data());
    return {};
}

}  // namespace verify
