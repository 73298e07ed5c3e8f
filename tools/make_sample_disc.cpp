// make-sample-disc: writes a mixed-mode sample disc (a data track, then audio tracks of tones)
// as a CloneCD-layout control file and raw image, so that kestran can be tried without a drive.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr int kSectorSize = 2352;
constexpr int kSamplesPerSector = 588;
constexpr int kPregap = 150;  // two seconds of silence before each audio track

struct Layout {
    long dataSectors = 1200;
    int audioTracks = 3;
    long trackSectors = 1500;
};

struct Track {
    int number;
    bool audio;
    long index0;  // -1 without a pregap
    long index1;
};

const char kUsage[] =
    "Usage: make-sample-disc [--data N] [--tracks K] [--track-length M] PATH.ccd\n"
    "Writes PATH.ccd and PATH.img: a data track of N sectors (default 1200; 0 for an audio\n"
    "disc), then K audio tracks (default 3) of M sectors each (default 1500), each with a\n"
    "150-sector pregap of silence after a data track, holding a tone.\n";

int Bcd(int value) {
    return (value / 10) * 16 + value % 10;
}

void FillDataSector(unsigned char* sector, long lba) {
    memset(sector, 0, kSectorSize);
    memset(sector + 1, 0xFF, 10);  // sync: 00 FF x10 00
    long address = lba + 150;
    sector[12] = static_cast<unsigned char>(Bcd(static_cast<int>(address / (60 * 75))));
    sector[13] = static_cast<unsigned char>(Bcd(static_cast<int>(address / 75 % 60)));
    sector[14] = static_cast<unsigned char>(Bcd(static_cast<int>(address % 75)));
    sector[15] = 1;  // mode 1
    for (int i = 0; i < 2048; ++i) {
        sector[16 + i] = static_cast<unsigned char>((lba * 7 + i * 13) & 0xFF);
    }
    snprintf(reinterpret_cast<char*>(sector + 16), 48, "KESTRAN SAMPLE DATA SECTOR %ld", lba);
}

// One period of a tone whose period is a whole number of samples at 44.1 kHz.
std::vector<short> TonePeriod(int periodSamples, double amplitude) {
    std::vector<short> period(periodSamples);
    for (int n = 0; n < periodSamples; ++n) {
        period[n] = static_cast<short>(amplitude * sin(2 * M_PI * n / periodSamples));
    }
    return period;
}

void FillAudioSector(unsigned char* sector, long sampleStart, const std::vector<short>& left,
                     const std::vector<short>& right) {
    for (int s = 0; s < kSamplesPerSector; ++s) {
        long n = sampleStart + s;
        short l = left[n % left.size()];
        short r = right[n % right.size()];
        unsigned char* p = sector + 4 * s;
        p[0] = static_cast<unsigned char>(l & 0xFF);
        p[1] = static_cast<unsigned char>((l >> 8) & 0xFF);
        p[2] = static_cast<unsigned char>(r & 0xFF);
        p[3] = static_cast<unsigned char>((r >> 8) & 0xFF);
    }
}

void WriteEntry(FILE* f, int entry, int point, int control, long plba) {
    long address = plba + 150;
    fprintf(f,
            "[Entry %d]\r\nSession=1\r\nPoint=0x%02x\r\nADR=0x01\r\nControl=0x%02x\r\n"
            "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
            "PMin=%ld\r\nPSec=%ld\r\nPFrame=%ld\r\nPLBA=%ld\r\n",
            entry, point, control, address / (60 * 75), address / 75 % 60, address % 75, plba);
}

bool WriteControlFile(const std::string& path, const std::vector<Track>& tracks,
                      long totalSectors) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool firstData = !tracks.front().audio;
    int entries = static_cast<int>(tracks.size()) + 3;
    fprintf(f, "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=%d\r\nSessions=1\r\n", entries);
    fprintf(f, "DataTracksScrambled=0\r\nCDTextLength=0\r\n[Session 1]\r\n");
    fprintf(f, "PreGapMode=%d\r\nPreGapSubC=0\r\n", firstData ? 1 : 0);
    int entry = 0;
    int firstControl = firstData ? 0x04 : 0x00;
    // A0, A1, A2: first track, last track, lead-out; their P fields carry numbers, not times.
    fprintf(f,
            "[Entry %d]\r\nSession=1\r\nPoint=0xa0\r\nADR=0x01\r\nControl=0x%02x\r\n"
            "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
            "PMin=1\r\nPSec=%d\r\nPFrame=0\r\nPLBA=%d\r\n",
            entry++, firstControl, 0, 4350);
    fprintf(f,
            "[Entry %d]\r\nSession=1\r\nPoint=0xa1\r\nADR=0x01\r\nControl=0x00\r\n"
            "TrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n"
            "PMin=%d\r\nPSec=0\r\nPFrame=0\r\nPLBA=%d\r\n",
            entry++, static_cast<int>(tracks.size()), static_cast<int>(tracks.size()) * 4500 - 150);
    WriteEntry(f, entry++, 0xa2, 0x00, totalSectors);
    for (const Track& t : tracks) {
        WriteEntry(f, entry++, t.number, t.audio ? 0x00 : 0x04, t.index1);
    }
    for (const Track& t : tracks) {
        fprintf(f, "[TRACK %d]\r\nMODE=%d\r\n", t.number, t.audio ? 0 : 1);
        if (t.index0 >= 0) {
            fprintf(f, "INDEX 0=%ld\r\n", t.index0);
        }
        fprintf(f, "INDEX 1=%ld\r\n", t.index1);
    }
    return fclose(f) == 0;
}

bool ParseCount(const char* text, long* value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0) {
        return false;
    }
    *value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Layout layout;
    const char* controlPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        long value = 0;
        bool hasValue = i + 1 < argc && ParseCount(argv[i + 1], &value);
        if (strcmp(argv[i], "--data") == 0 && hasValue) {
            layout.dataSectors = value;
            ++i;
        } else if (strcmp(argv[i], "--tracks") == 0 && hasValue && value >= 1 && value <= 98) {
            layout.audioTracks = static_cast<int>(value);
            ++i;
        } else if (strcmp(argv[i], "--track-length") == 0 && hasValue && value >= 1) {
            layout.trackSectors = value;
            ++i;
        } else if (argv[i][0] != '-' && controlPath == nullptr) {
            controlPath = argv[i];
        } else {
            fputs(kUsage, stderr);
            return 2;
        }
    }
    std::string control = controlPath != nullptr ? controlPath : "";
    if (control.size() < 5 || control.compare(control.size() - 4, 4, ".ccd") != 0) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::string image = control.substr(0, control.size() - 4) + ".img";

    std::vector<Track> tracks;
    long sector = 0;
    if (layout.dataSectors > 0) {
        tracks.push_back({1, false, -1, 0});
        sector = layout.dataSectors;
    }
    for (int t = 0; t < layout.audioTracks; ++t) {
        bool pregap = !tracks.empty() && t == 0;
        long index0 = pregap ? sector : -1;
        if (pregap) {
            sector += kPregap;
        }
        tracks.push_back({static_cast<int>(tracks.size()) + 1, true, index0, sector});
        sector += layout.trackSectors;
    }
    const long totalSectors = sector;

    FILE* f = fopen(image.c_str(), "wb");
    if (f == nullptr) {
        perror(image.c_str());
        return 1;
    }
    std::vector<unsigned char> block(static_cast<size_t>(kSectorSize) * 64);
    long written = 0;
    size_t trackIndex = 0;
    while (written < totalSectors) {
        long count = totalSectors - written < 64 ? totalSectors - written : 64;
        for (long s = 0; s < count; ++s) {
            long lba = written + s;
            while (trackIndex + 1 < tracks.size() &&
                   lba >= (tracks[trackIndex + 1].index0 >= 0 ? tracks[trackIndex + 1].index0
                                                              : tracks[trackIndex + 1].index1)) {
                ++trackIndex;
            }
            const Track& t = tracks[trackIndex];
            unsigned char* p = block.data() + s * kSectorSize;
            if (!t.audio) {
                FillDataSector(p, lba);
            } else if (lba < t.index1) {
                memset(p, 0, kSectorSize);
            } else {
                // Each track its own tone: periods of 100, 80, 60, ... samples.
                int period = 100 - 20 * ((t.number - 1) % 4);
                static std::vector<short> left, right;
                static int cachedPeriod = 0;
                if (cachedPeriod != period) {
                    left = TonePeriod(period, 8000.0);
                    right = TonePeriod(period * 2, 6000.0);
                    cachedPeriod = period;
                }
                FillAudioSector(p, (lba - t.index1) * kSamplesPerSector, left, right);
            }
        }
        if (fwrite(block.data(), kSectorSize, static_cast<size_t>(count), f) !=
            static_cast<size_t>(count)) {
            perror(image.c_str());
            fclose(f);
            return 1;
        }
        written += count;
    }
    if (fclose(f) != 0 || !WriteControlFile(control, tracks, totalSectors)) {
        perror(control.c_str());
        return 1;
    }
    printf("%s: %ld sectors (%ld data, %d audio tracks of %ld); control file %s\n", image.c_str(),
           totalSectors, layout.dataSectors, layout.audioTracks, layout.trackSectors,
           control.c_str());
    return 0;
}
