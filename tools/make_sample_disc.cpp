// make-sample-disc: writes a sample disc (a data track and audio tracks of tones, in one session
// or in two) as a CloneCD-layout control file and raw image, so that kestran can be tried
// without a drive.
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
// Between two sessions on the disc: the first one's lead-out, the next one's lead-in and the
// pregap of its first track.
constexpr long kSessionGap = 6750 + 4500 + kPregap;

enum class Sessions {
    One,           // a data track (unless --data 0), then the audio tracks
    CdExtra,       // the audio tracks, then a data track in a second session
    AudioSession,  // a data track, then the audio tracks in a second session
};

struct Layout {
    long dataSectors = 1200;
    int audioTracks = 3;
    long trackSectors = 1500;
    Sessions sessions = Sessions::One;
    bool storeGap = false;
    long edgeSilence = 0;  // samples of silence at each end of the audio
};

struct Track {
    int number;
    bool audio;
    long index0;  // -1 without a pregap
    long index1;
    int session;
};

// One session on the disc: its tracks, its first track's start and where its lead-out begins.
struct Session {
    int firstTrack;
    int lastTrack;
    long first;
    long leadOut;
};

const char kUsage[] =
    "Usage: make-sample-disc [--data N] [--tracks K] [--track-length M]\n"
    "                        [--cd-extra | --audio-session [--store-gap]]\n"
    "                        [--edge-silence S] PATH.ccd\n"
    "Writes PATH.ccd and PATH.img: a data track of N sectors (default 1200; 0 for an audio\n"
    "disc), then K audio tracks (default 3) of M sectors each (default 1500), each holding a\n"
    "tone, the first with a 150-sector pregap of silence after a data track.\n"
    "  --cd-extra       two sessions: the audio tracks, then the data track (N > 0)\n"
    "  --audio-session  two sessions: the data track (N > 0), then the audio tracks\n"
    "  --store-gap      the image also holds the 11400 sectors between the sessions (silence);\n"
    "                   by default it leaves them out, as CloneCD-layout images do\n"
    "  --edge-silence S the first and last S samples of the audio are silence, so that a shift\n"
    "                   of up to S samples either way and back gives the same image\n";

int Bcd(int value) {
    return (value / 10) * 16 + value % 10;
}

void FillDataSector(unsigned char* sector, long lba, int mode) {
    memset(sector, 0, kSectorSize);
    memset(sector + 1, 0xFF, 10);  // sync: 00 FF x10 00
    long address = lba + 150;
    sector[12] = static_cast<unsigned char>(Bcd(static_cast<int>(address / (60 * 75))));
    sector[13] = static_cast<unsigned char>(Bcd(static_cast<int>(address / 75 % 60)));
    sector[14] = static_cast<unsigned char>(Bcd(static_cast<int>(address % 75)));
    sector[15] = static_cast<unsigned char>(mode);
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

// The sector at disc address `lba`, in the track that holds it.
void FillSector(unsigned char* sector, long lba, const std::vector<Track>& tracks) {
    size_t index = 0;
    while (index + 1 < tracks.size() &&
           lba >= (tracks[index + 1].index0 >= 0 ? tracks[index + 1].index0
                                                 : tracks[index + 1].index1)) {
        ++index;
    }
    const Track& t = tracks[index];
    if (!t.audio) {
        FillDataSector(sector, lba, t.session == 1 ? 1 : 2);
    } else if (lba < t.index1) {
        memset(sector, 0, kSectorSize);
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
        FillAudioSector(sector, (lba - t.index1) * kSamplesPerSector, left, right);
    }
}

struct Entry {
    int session;
    int point;
    int adr;
    int control;
    int aMin, aSec, aFrame;
    long aLba;
    int pMin, pSec, pFrame;
    long pLba;
};

// An entry whose P fields give a disc address.
Entry AddressEntry(int session, int point, int control, long plba) {
    long address = plba + 150;
    return {session,
            point,
            1,
            control,
            0,
            0,
            0,
            -150,
            static_cast<int>(address / (60 * 75)),
            static_cast<int>(address / 75 % 60),
            static_cast<int>(address % 75),
            plba};
}

// A0 and A1 carry a track number in PMin (and A0 the disc type in PSec), not a time.
Entry NumberEntry(int session, int point, int control, int number, int type) {
    return {session, point, 1,      control, 0, 0,
            0,       -150,  number, type,    0, (number * 60L + type) * 75 - 150};
}

void WriteEntry(FILE* f, int index, const Entry& e) {
    fprintf(f,
            "[Entry %d]\r\nSession=%d\r\nPoint=0x%02x\r\nADR=0x%02x\r\nControl=0x%02x\r\n"
            "TrackNo=0\r\nAMin=%d\r\nASec=%d\r\nAFrame=%d\r\nALBA=%ld\r\nZero=0\r\n"
            "PMin=%d\r\nPSec=%d\r\nPFrame=%d\r\nPLBA=%ld\r\n",
            index, e.session, e.point, e.adr, e.control, e.aMin, e.aSec, e.aFrame, e.aLba, e.pMin,
            e.pSec, e.pFrame, e.pLba);
}

bool WriteControlFile(const std::string& path, const std::vector<Track>& tracks,
                      const std::vector<Session>& sessions) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    std::vector<Entry> entries;
    const bool multi = sessions.size() > 1;
    for (size_t k = 0; k < sessions.size(); ++k) {
        const Session& s = sessions[k];
        const int session = static_cast<int>(k + 1);
        const Track& first = tracks[s.firstTrack - 1];
        const int firstControl = first.audio ? 0x00 : 0x04;
        const int lastControl = tracks[s.lastTrack - 1].audio ? 0x00 : 0x04;
        // A CD-Extra's second session is CD-ROM XA (disc type 0x20).
        const int type = k > 0 && !first.audio ? 0x20 : 0;
        entries.push_back(NumberEntry(session, 0xa0, firstControl, s.firstTrack, type));
        entries.push_back(NumberEntry(session, 0xa1, lastControl, s.lastTrack, 0));
        entries.push_back(AddressEntry(session, 0xa2, lastControl, s.leadOut));
        if (multi && k == 0) {
            // ADR 5: where the next session may start (B0) and the lead-in of the disc (C0).
            long next = sessions[1].first;  // as a time, 150 sectors after its address
            entries.push_back({session, 0xb0, 5, firstControl, static_cast<int>(next / 4500),
                               static_cast<int>(next / 75 % 60), static_cast<int>(next % 75),
                               next - 150, 79, 59, 74, 359849});
            entries.push_back(
                {session, 0xc0, 5, firstControl, 160, 0, 16, 11925, 97, 26, 66, -11634});
        }
        for (int n = s.firstTrack; n <= s.lastTrack; ++n) {
            const Track& t = tracks[n - 1];
            entries.push_back(AddressEntry(session, n, t.audio ? 0x00 : 0x04, t.index1));
        }
    }
    fprintf(f, "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=%d\r\nSessions=%d\r\n",
            static_cast<int>(entries.size()), static_cast<int>(sessions.size()));
    fprintf(f, "DataTracksScrambled=0\r\nCDTextLength=0\r\n");
    for (size_t k = 0; k < sessions.size(); ++k) {
        bool firstData = !tracks[sessions[k].firstTrack - 1].audio;
        int mode = !firstData ? 0 : (multi && k > 0 ? 2 : 1);
        fprintf(f, "[Session %d]\r\nPreGapMode=%d\r\nPreGapSubC=0\r\n", static_cast<int>(k + 1),
                mode);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        WriteEntry(f, static_cast<int>(i), entries[i]);
    }
    for (const Track& t : tracks) {
        fprintf(f, "[TRACK %d]\r\nMODE=%d\r\n", t.number, t.audio ? 0 : t.session == 1 ? 1 : 2);
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
        } else if (strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return 0;
        } else if (strcmp(argv[i], "--cd-extra") == 0) {
            layout.sessions = Sessions::CdExtra;
        } else if (strcmp(argv[i], "--audio-session") == 0) {
            layout.sessions = Sessions::AudioSession;
        } else if (strcmp(argv[i], "--store-gap") == 0) {
            layout.storeGap = true;
        } else if (strcmp(argv[i], "--edge-silence") == 0 && hasValue) {
            layout.edgeSilence = value;
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

    const bool twoSessions = layout.sessions != Sessions::One;
    if ((twoSessions && layout.dataSectors == 0) || (layout.storeGap && !twoSessions)) {
        fputs(kUsage, stderr);
        return 2;
    }

    // Disc addresses of the tracks and sessions.
    std::vector<Track> tracks;
    std::vector<Session> sessions;
    long sector = 0;
    auto addData = [&](int session) {
        long index0 = session > 1 ? sector - kPregap : -1;
        tracks.push_back({static_cast<int>(tracks.size()) + 1, false, index0, sector, session});
        sector += layout.dataSectors;
    };
    auto addAudio = [&](int session) {
        for (int t = 0; t < layout.audioTracks; ++t) {
            long index0 = -1;
            if (t == 0 && session > 1) {
                index0 = sector - kPregap;  // in the gap between the sessions
            } else if (t == 0 && !tracks.empty()) {
                index0 = sector;
                sector += kPregap;
            }
            tracks.push_back({static_cast<int>(tracks.size()) + 1, true, index0, sector, session});
            sector += layout.trackSectors;
        }
    };
    auto closeSession = [&](long first) {
        int firstTrack = sessions.empty() ? 1 : sessions.back().lastTrack + 1;
        sessions.push_back({firstTrack, static_cast<int>(tracks.size()), first, sector});
    };
    if (layout.sessions == Sessions::CdExtra) {
        addAudio(1);
        closeSession(0);
        sector += kSessionGap;
        addData(2);
        closeSession(sector - layout.dataSectors);
    } else if (layout.sessions == Sessions::AudioSession) {
        addData(1);
        closeSession(0);
        sector += kSessionGap;
        long first = sector;
        addAudio(2);
        closeSession(first);
    } else {
        if (layout.dataSectors > 0) {
            addData(1);
        }
        addAudio(1);
        closeSession(0);
    }

    // The audio tracks follow one another: one run of audio on the disc, in samples.
    long audioFirst = -1;
    long audioEnd = -1;
    for (const Track& t : tracks) {
        if (t.audio) {
            if (audioFirst < 0) {
                audioFirst = (t.index0 >= 0 ? t.index0 : t.index1) * kSamplesPerSector;
            }
            audioEnd = (t.index1 + layout.trackSectors) * kSamplesPerSector;
        }
    }
    auto silenceEdges = [&](unsigned char* sector, long lba) {
        for (long n = 0; n < kSamplesPerSector; ++n) {
            long sample = lba * kSamplesPerSector + n;
            if ((sample >= audioFirst && sample < audioFirst + layout.edgeSilence) ||
                (sample < audioEnd && sample >= audioEnd - layout.edgeSilence)) {
                memset(sector + 4 * n, 0, 4);
            }
        }
    };

    // The image holds each session from its first track's start (the disc's start for the
    // first) to its lead-out, and the gaps between them only when asked to.
    FILE* f = fopen(image.c_str(), "wb");
    if (f == nullptr) {
        perror(image.c_str());
        return 1;
    }
    std::vector<unsigned char> block(static_cast<size_t>(kSectorSize) * 64);
    long imageSectors = 0;
    for (size_t k = 0; k < sessions.size(); ++k) {
        long from = k == 0 ? 0 : layout.storeGap ? sessions[k - 1].leadOut : sessions[k].first;
        long to = sessions[k].leadOut;
        for (long lba = from; lba < to;) {
            long count = to - lba < 64 ? to - lba : 64;
            for (long s = 0; s < count; ++s) {
                unsigned char* p = block.data() + s * kSectorSize;
                if (lba + s < sessions[k].first && k > 0) {
                    memset(p, 0, kSectorSize);
                } else {
                    FillSector(p, lba + s, tracks);
                    silenceEdges(p, lba + s);
                }
            }
            if (fwrite(block.data(), kSectorSize, static_cast<size_t>(count), f) !=
                static_cast<size_t>(count)) {
                perror(image.c_str());
                fclose(f);
                return 1;
            }
            lba += count;
            imageSectors += count;
        }
    }
    if (fclose(f) != 0 || !WriteControlFile(control, tracks, sessions)) {
        perror(control.c_str());
        return 1;
    }
    printf("%s: %ld sectors (%ld data, %d audio tracks of %ld", image.c_str(), imageSectors,
           layout.dataSectors, layout.audioTracks, layout.trackSectors);
    if (twoSessions) {
        printf("; two sessions, the %ld sectors between them %s", kSessionGap,
               layout.storeGap ? "stored" : "left out");
    }
    printf("); control file %s\n", control.c_str());
    return 0;
}
