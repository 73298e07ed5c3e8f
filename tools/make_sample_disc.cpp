// make-sample-disc: writes a sample disc (a data track and audio tracks of tones, in one session
// or in two) as a CloneCD-layout control file and raw image, or as a BIN/CUE set cut from the
// same bytes, so that kestran can be tried without a drive.
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
    long dumpOffset = 0;   // samples that the audio is read late (early when negative)
};

// How a BIN/CUE set cuts the image into files.
enum class Cut {
    None,          // a CloneCD-layout set instead
    PerTrack,      // one file per track from its first index on, as redump cuts them
    SingleFile,    // one file for the whole image
    GapsAppended,  // one file per track from its INDEX 01 on, the next pregap at its end
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
    "                        [--edge-silence S] [--dump-offset K] PATH.ccd\n"
    "       make-sample-disc --cue [--single-file | --gaps-appended] [the options above but\n"
    "                        --store-gap] PATH.cue\n"
    "Writes PATH.ccd and PATH.img: a data track of N sectors (default 1200; 0 for an audio\n"
    "disc), then K audio tracks (default 3) of M sectors each (default 1500), each holding a\n"
    "tone, the first with a 150-sector pregap of silence after a data track.\n"
    "With --cue, writes the same disc as PATH.cue and one file per track, \"NAME (Track 1).bin\"\n"
    "and so on (\"(Track 01)\" from 10 tracks on), each from its track's first index on, as\n"
    "redump cuts them; the files hold exactly the bytes of the CloneCD-layout image.\n"
    "  --single-file    one file, NAME.bin, the whole image\n"
    "  --gaps-appended  each file from its track's INDEX 01 on, the next track's pregap at its "
    "end\n"
    "  --cd-extra       two sessions: the audio tracks, then the data track (N > 0)\n"
    "  --audio-session  two sessions: the data track (N > 0), then the audio tracks\n"
    "  --store-gap      the image also holds the 11400 sectors between the sessions (silence);\n"
    "                   by default it leaves them out, as CloneCD-layout images do\n"
    "  --edge-silence S the first and last S samples of the audio are silence, so that a shift\n"
    "                   of up to S samples either way and back gives the same image\n"
    "  --dump-offset K  the audio as a drive that reads it K samples late gives it (early when\n"
    "                   K < 0, -2348..2348, one session): the data it meets scrambled, the\n"
    "                   outside of the disc silent; kestran -o -K puts it right\n"
    "Two sessions in a cue sheet: REM SESSION 02, and the sectors between them in no file.\n";

// ECMA-130's scrambler, as a drive that reads a data sector as audio leaves it: bytes 12..2351
// XORed with a 15-bit register's output (x^15 + x + 1, preset 1, low bit first).
void Scramble(unsigned char* sector) {
    unsigned reg = 1;
    for (int i = 12; i < kSectorSize; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            sector[i] ^= static_cast<unsigned char>((reg & 1) << bit);
            unsigned feedback = (reg ^ (reg >> 1)) & 1;
            reg = (reg >> 1) | (feedback << 14);
        }
    }
}

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

// The part of the disc that the image holds after the sectors before it, for each session.
struct Segment {
    long first;  // disc address of its first sector
    long end;
    long imageFirst;
};

// The image sector that holds disc address `lba`, or -1 when the image leaves it out.
long ImageSector(const std::vector<Segment>& segments, long lba) {
    for (const Segment& s : segments) {
        if (lba >= s.first && lba < s.end) {
            return s.imageFirst + (lba - s.first);
        }
    }
    return -1;
}

// Writes the image's sectors [from, to) to `path`; `fill` gives the sector at a disc address.
template <typename Fill>
bool WriteSectors(const std::string& path, const std::vector<Segment>& segments, long from, long to,
                  Fill fill) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    std::vector<unsigned char> sector(kSectorSize);
    bool ok = true;
    for (const Segment& s : segments) {
        for (long i = s.imageFirst; ok && i < s.imageFirst + (s.end - s.first); ++i) {
            if (i >= from && i < to) {
                fill(sector.data(), s.first + (i - s.imageFirst));
                ok = fwrite(sector.data(), kSectorSize, 1, f) == 1;
            }
        }
    }
    return fclose(f) == 0 && ok;
}

std::string CueTime(long sectors) {
    char text[32];
    snprintf(text, sizeof(text), "%02ld:%02ld:%02ld", sectors / 4500, sectors / 75 % 60,
             sectors % 75);
    return text;
}

struct BinFile {
    std::string name;
    long first;  // image sectors [first, end)
    long end;
};

// Cuts the image into files and writes the cue sheet that lists them. Returns the files.
std::vector<BinFile> CueSheetText(const std::string& base, Cut cut,
                                  const std::vector<Track>& tracks,
                                  const std::vector<Segment>& segments, long imageSectors,
                                  std::string* text) {
    std::vector<BinFile> files;
    const char* format = tracks.size() >= 10 ? "%s (Track %02d).bin" : "%s (Track %d).bin";
    for (const Track& t : tracks) {
        long index0 = t.index0 >= 0 ? ImageSector(segments, t.index0) : -1;
        long first = cut == Cut::PerTrack && index0 >= 0 ? index0 : ImageSector(segments, t.index1);
        if (cut != Cut::SingleFile || files.empty()) {
            char name[1024];
            snprintf(name, sizeof(name), format, base.c_str(), t.number);
            files.push_back({cut == Cut::SingleFile ? base + ".bin" : name,
                             files.empty() ? 0 : first, imageSectors});
            if (files.size() > 1) {
                files[files.size() - 2].end = files.back().first;
            }
        }
    }
    const bool twoSessions = tracks.back().session > 1;
    size_t nextFile = 0;
    long fileFirst = 0;
    // The FILE lines of the files that begin at or before image sector `at`.
    auto fileLines = [&](long at) {
        while (nextFile < files.size() && files[nextFile].first <= at) {
            *text += "FILE \"" + files[nextFile].name + "\" BINARY\r\n";
            fileFirst = files[nextFile++].first;
        }
    };
    for (const Track& t : tracks) {
        if (twoSessions && (t.number == 1 || t.session != tracks[t.number - 2].session)) {
            *text += "REM SESSION 0" + std::to_string(t.session) + "\r\n";
        }
        long index0 = t.index0 >= 0 ? ImageSector(segments, t.index0) : -1;
        long index1 = ImageSector(segments, t.index1);
        fileLines(index0 >= 0 ? index0 : index1);
        const char* mode = t.audio ? "AUDIO" : t.session == 1 ? "MODE1/2352" : "MODE2/2352";
        char line[64];
        snprintf(line, sizeof(line), "  TRACK %02d %s\r\n", t.number, mode);
        *text += line;
        if (index0 >= 0) {
            *text += "    INDEX 00 " + CueTime(index0 - fileFirst) + "\r\n";
        }
        fileLines(index1);
        *text += "    INDEX 01 " + CueTime(index1 - fileFirst) + "\r\n";
    }
    return files;
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
    Cut cut = Cut::None;
    bool cue = false;
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
        } else if (strcmp(argv[i], "--cue") == 0) {
            cue = true;
        } else if (strcmp(argv[i], "--single-file") == 0) {
            cut = Cut::SingleFile;
        } else if (strcmp(argv[i], "--gaps-appended") == 0) {
            cut = Cut::GapsAppended;
        } else if (strcmp(argv[i], "--store-gap") == 0) {
            layout.storeGap = true;
        } else if (strcmp(argv[i], "--dump-offset") == 0 && i + 1 < argc) {
            char* end = nullptr;
            layout.dumpOffset = strtol(argv[++i], &end, 10);
            if (*end != '\0' || layout.dumpOffset < -2348 || layout.dumpOffset > 2348) {
                fputs(kUsage, stderr);
                return 2;
            }
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
    if (cue && cut == Cut::None) {
        cut = Cut::PerTrack;
    }
    std::string control = controlPath != nullptr ? controlPath : "";
    const char* extension = cue ? ".cue" : ".ccd";
    if (control.size() < 5 || control.compare(control.size() - 4, 4, extension) != 0) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::string stem = control.substr(0, control.size() - 4);
    std::string image = stem + ".img";

    const bool twoSessions = layout.sessions != Sessions::One;
    if ((twoSessions && layout.dataSectors == 0) || (layout.storeGap && !twoSessions) ||
        (cut != Cut::None) != cue || (cue && layout.storeGap) ||
        (twoSessions && layout.dumpOffset != 0)) {
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
                // A pregap in the gap between sessions is in the image only with the gap.
                bool pregapHeld = t.index0 >= 0 && (t.session == 1 || layout.storeGap);
                audioFirst = (pregapHeld ? t.index0 : t.index1) * kSamplesPerSector;
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

    // A sector of the disc as a drive reads it as audio: data scrambled, nothing outside it.
    const long leadOut = sessions.back().leadOut;
    std::vector<unsigned char> raw(2 * static_cast<size_t>(kSectorSize));
    auto readAsAudio = [&](unsigned char* sector, long lba) {
        if (lba < 0 || lba >= leadOut) {
            memset(sector, 0, kSectorSize);
            return;
        }
        FillSector(sector, lba, tracks);
        silenceEdges(sector, lba);
        if (lba * kSamplesPerSector < audioFirst || lba * kSamplesPerSector >= audioEnd) {
            Scramble(sector);
        }
    };
    // An audio sector of the dump: the disc's bytes 4 × dumpOffset earlier.
    auto fillDumped = [&](unsigned char* sector, long lba) {
        const long start = lba * kSectorSize - 4 * layout.dumpOffset;
        const long first =
            start >= 0 ? start / kSectorSize : -((-start + kSectorSize - 1) / kSectorSize);
        const long skip = start - first * kSectorSize;
        readAsAudio(raw.data(), first);
        readAsAudio(raw.data() + kSectorSize, first + 1);
        memcpy(sector, raw.data() + skip, kSectorSize);
    };

    // The image holds each session from its first track's start (the disc's start for the
    // first) to its lead-out, and the gaps between them only when asked to.
    std::vector<Segment> segments;
    long imageSectors = 0;
    for (size_t k = 0; k < sessions.size(); ++k) {
        long from = k == 0 ? 0 : layout.storeGap ? sessions[k - 1].leadOut : sessions[k].first;
        segments.push_back({from, sessions[k].leadOut, imageSectors});
        imageSectors += sessions[k].leadOut - from;
    }
    auto fill = [&](unsigned char* p, long lba) {
        if (sessions.size() > 1 && lba < sessions[1].first && lba >= sessions[0].leadOut) {
            memset(p, 0, kSectorSize);
        } else if (layout.dumpOffset != 0 && lba * kSamplesPerSector >= audioFirst &&
                   lba * kSamplesPerSector < audioEnd) {
            fillDumped(p, lba);
        } else {
            FillSector(p, lba, tracks);
            silenceEdges(p, lba);
        }
    };
    if (cue) {
        size_t slash = stem.find_last_of('/');
        std::string folder = slash == std::string::npos ? "" : stem.substr(0, slash + 1);
        std::string text;
        std::vector<BinFile> files =
            CueSheetText(stem.substr(folder.size()), cut, tracks, segments, imageSectors, &text);
        for (const BinFile& file : files) {
            if (!WriteSectors(folder + file.name, segments, file.first, file.end, fill)) {
                perror((folder + file.name).c_str());
                return 1;
            }
        }
        FILE* f = fopen(control.c_str(), "wb");
        if (f == nullptr || fputs(text.c_str(), f) < 0 || fclose(f) != 0) {
            perror(control.c_str());
            return 1;
        }
        printf("%s: %ld sectors in %d files (%ld data, %d audio tracks of %ld%s)\n",
               control.c_str(), imageSectors, static_cast<int>(files.size()), layout.dataSectors,
               layout.audioTracks, layout.trackSectors,
               twoSessions ? "; two sessions, the sectors between them in no file" : "");
        return 0;
    }
    if (!WriteSectors(image, segments, 0, imageSectors, fill)) {
        perror(image.c_str());
        return 1;
    }
    if (!WriteControlFile(control, tracks, sessions)) {
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
