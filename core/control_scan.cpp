#include "control_scan.h"

#include "file.h"
#include "job_host.h"
#include "text.h"

int32_t ReadControlLine(File& file, char* buffer) {
    int32_t bytesRead = file.Read(buffer, TEXT_BUFFER_SIZE - 1);
    if (bytesRead < 0) {
        bytesRead = 0;
    }
    buffer[bytesRead] = '\0';

    int32_t consumed = 0;
    while (buffer[consumed] != '\n' && buffer[consumed] != '\r' && buffer[consumed] != '\0') {
        ++consumed;
    }
    if (buffer[consumed] == '\n') {
        buffer[consumed++] = '\0';
    } else if (buffer[consumed] == '\r') {
        buffer[consumed++] = '\0';
        if (buffer[consumed] == '\n') {
            ++consumed;
        }
    }
    if (consumed != bytesRead) {
        file.SeekRelative(consumed - bytesRead);
    }
    return consumed;
}

static bool IsTokenByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int32_t SplitTokens(char* line, char** table, bool* minus) {
    int32_t count = 0;
    bool inToken = false;
    char before = '\0';  // the byte before `p` as the line had it
    for (char* p = line; *p != '\0'; ++p) {
        char byte = *p;
        if (IsTokenByte(byte)) {
            if (!inToken && count < TOKEN_TABLE_SIZE) {
                if (minus != nullptr) {
                    minus[count] = before == '-';
                }
                table[count++] = p;
            }
            inToken = true;
        } else {
            if (inToken) {
                *p = '\0';
            }
            inToken = false;
        }
        before = byte;
    }
    return count;
}

// A value that does not fit 32 bits lies beyond any image: it reads as END_SENTINEL.
static int32_t SectorValue(const char* token) {
    int32_t value = 0;
    ParseDecimal(token, &value);
    return value;
}

// A table-of-contents value: decimal digits, or hexadecimal ones after "0x", that fit 32 bits.
// Anything else (a minus sign before it, other letters, no digits) makes it unreadable.
static bool ReadTocValue(const char* token, bool minus, int32_t* value) {
    if (minus) {
        return false;
    }
    int32_t base = 10;
    if (token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token += 2;
    }
    if (*token == '\0') {
        return false;
    }
    int64_t number = 0;
    for (; *token != '\0'; ++token) {
        int32_t digit = HexDigitValue(*token);
        if (digit >= base) {
            return false;
        }
        number = number * base + digit;
        if (number > INT32_MAX) {
            return false;
        }
    }
    *value = static_cast<int32_t>(number);
    return true;
}

namespace {

// The part of the file that the lines now read belong to.
enum class Section { Other, Disc, Entry };

// The values of one [Entry n] section, NOT_GIVEN where absent.
struct EntryValues {
    int32_t session;
    int32_t point;
    int32_t adr;
    int32_t pMin;
    int32_t pLba;
    bool unreadable;  // a value that is not a number
};

constexpr int32_t POINT_FIRST_TRACK = 0xA0;
constexpr int32_t POINT_LEAD_OUT = 0xA2;

}  // namespace

// A section head starts with "[", blanks aside. TRACK lines without brackets are track heads too.
static bool IsSectionHead(const char* line) {
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    return *line == '[';
}

static Section SectionNamed(const char* name) {
    if (CompareNoCase(name, "Entry") == 0) {
        return Section::Entry;
    }
    return CompareNoCase(name, "Disc") == 0 ? Section::Disc : Section::Other;
}

static void ReadEntryValue(char** token, const bool* minus, int32_t tokens, EntryValues& entry) {
    static const char* const kKeys[] = {"Session", "Point", "ADR", "PMin", "PLBA"};
    int32_t* const fields[] = {&entry.session, &entry.point, &entry.adr, &entry.pMin, &entry.pLba};
    for (int32_t i = 0; i < 5; ++i) {
        if (CompareNoCase(token[0], kKeys[i]) == 0) {
            if (tokens < 2 || !ReadTocValue(token[1], minus[1], fields[i])) {
                entry.unreadable = true;
            }
            return;
        }
    }
}

// Stores a table-of-contents value; one that is missing or disagrees with an earlier entry
// makes the entries contradict each other.
static void StoreTocValue(ControlScan& scan, int32_t* field, int32_t value) {
    if (value == NOT_GIVEN || (*field != NOT_GIVEN && *field != value)) {
        scan.entriesContradict = true;
    } else {
        *field = value;
    }
}

static void CommitEntry(const EntryValues& entry, ControlScan& scan) {
    if (entry.adr != NOT_GIVEN && entry.adr != 1) {
        return;  // ADR 5 (0xB0, 0xC0 and the like) and others are not track starts
    }
    if (entry.unreadable || entry.session < 1 || entry.point == NOT_GIVEN) {
        scan.entriesContradict = true;
        return;
    }
    if (entry.session > scan.lastSession) {
        scan.lastSession = entry.session;
    }
    if (entry.session > MAX_SESSIONS) {
        return;  // too many sessions: the layout is refused as a whole
    }
    TocSession& session = scan.sessions[entry.session];
    if (entry.point == POINT_FIRST_TRACK) {
        bool isTrack = entry.pMin >= 1 && entry.pMin <= MAX_TRACKS;
        StoreTocValue(scan, &session.firstTrack, isTrack ? entry.pMin : NOT_GIVEN);
    } else if (entry.point == POINT_LEAD_OUT) {
        StoreTocValue(scan, &session.leadOut, entry.pLba);
    } else if (entry.point >= 1 && entry.point <= MAX_TRACKS) {
        TocTrack& track = scan.toc[entry.point];
        if (entry.pLba == NOT_GIVEN ||
            (track.session != 0 && (track.session != entry.session || track.start != entry.pLba))) {
            scan.entriesContradict = true;
        } else {
            track.session = entry.session;
            track.start = entry.pLba;
        }
    }
}

static void StartScan(ControlScan& scan) {
    scan.boundaryCount = 0;
    scan.boundariesDropped = false;
    scan.trackCount = 0;
    scan.tracksDropped = false;
    scan.negativeIndex = false;
    scan.hasEntries = false;
    scan.declaredSessions = NOT_GIVEN;
    scan.lastSession = 0;
    scan.entriesContradict = false;
    scan.cancelled = false;
    for (TocSession& session : scan.sessions) {
        session.firstTrack = NOT_GIVEN;
        session.leadOut = NOT_GIVEN;
    }
    for (TocTrack& track : scan.toc) {
        track.session = 0;
        track.start = NOT_GIVEN;
    }
}

static const EntryValues kNoEntryValues = {NOT_GIVEN, NOT_GIVEN, NOT_GIVEN,
                                           NOT_GIVEN, NOT_GIVEN, false};

void ScanControlFile(File& file, char* buffer, ControlScan& scan, JobHost* host) {
    char* token[TOKEN_TABLE_SIZE];
    bool minus[TOKEN_TABLE_SIZE];
    int32_t mode = -1;
    int32_t& count = scan.boundaryCount;
    BoundaryList& list = scan.boundaries;
    StartScan(scan);

    Section section = Section::Other;
    EntryValues entry = kNoEntryValues;
    ScannedTrack* track = nullptr;  // the track section being read, when the table holds it
    bool trackIndexed = false;
    int32_t lines = 0;

    while (ReadControlLine(file, buffer) != 0) {
        if (host != nullptr && ++lines % CANCEL_CHECK_LINES == 0 && host->BusyFlag() == 0) {
            scan.cancelled = true;
            break;
        }
        bool head = IsSectionHead(buffer);
        int32_t tokens = SplitTokens(buffer, token, minus);
        if (tokens == 0) {
            continue;
        }
        bool trackHead = CompareNoCase(token[0], "TRACK") == 0;

        // The table of contents and the session count, wherever their sections stand.
        if (head || trackHead) {
            if (section == Section::Entry) {
                CommitEntry(entry, scan);
            }
            section = head ? SectionNamed(token[0]) : Section::Other;
            entry = kNoEntryValues;
            scan.hasEntries = scan.hasEntries || section == Section::Entry;
        } else if (section == Section::Entry) {
            ReadEntryValue(token, minus, tokens, entry);
        } else if (section == Section::Disc && CompareNoCase(token[0], "Sessions") == 0) {
            if (tokens < 2 || !ReadTocValue(token[1], minus[1], &scan.declaredSessions)) {
                scan.declaredSessions = 0;
            }
        }

        // The boundaries and the track table.
        if (mode == -1) {
            if (trackHead) {
                mode = 0;
            }
        } else if (CompareNoCase(token[0], "MODE") == 0) {
            if (tokens >= 2) {
                ParseDecimal(token[1], &mode);
            }
        } else if (CompareNoCase(token[0], "INDEX") == 0 && tokens >= 3) {
            int32_t sector = SectorValue(token[2]);
            bool opensAudio = count % 2 == 0 && mode == 0;
            bool closesAudio = count % 2 == 1 && mode != 0;
            // An audio region is opened only when there is room to close it as well.
            bool fits = opensAudio ? count + 2 <= MAX_BOUNDARIES : count < MAX_BOUNDARIES;
            if (opensAudio || closesAudio) {
                if (fits) {
                    list[count++] = sector;
                } else {
                    scan.boundariesDropped = true;
                }
            }
            if (track != nullptr) {
                int32_t index = SectorValue(token[1]);
                scan.negativeIndex = scan.negativeIndex || minus[2];
                trackIndexed = true;
                if (index == 0 && track->index0 == NOT_GIVEN) {
                    track->index0 = sector;
                } else if (index == 1 && track->index1 == NOT_GIVEN) {
                    track->index1 = sector;
                }
                track->lowest = sector < track->lowest ? sector : track->lowest;
                track->highest = sector > track->highest ? sector : track->highest;
            }
        }
        if (trackHead) {
            track = scan.trackCount < MAX_TRACKS ? &scan.tracks[scan.trackCount++] : nullptr;
            scan.tracksDropped = scan.tracksDropped || track == nullptr;
            trackIndexed = false;
            if (track != nullptr) {
                track->number = tokens >= 2 ? SectorValue(token[1]) : 0;
                track->index0 = NOT_GIVEN;
                track->index1 = NOT_GIVEN;
                track->lowest = INT32_MAX;
                track->highest = -1;
            }
        }
        if (track != nullptr && !trackIndexed) {
            track->mode = mode;
        }
    }
    if (section == Section::Entry) {
        CommitEntry(entry, scan);
    }
    list[count] = END_SENTINEL;
}

int32_t ScanControlFile(File& file, char* buffer, BoundaryList& list) {
    ControlScan scan;
    ScanControlFile(file, buffer, scan);
    for (int32_t i = 0; i <= scan.boundaryCount; ++i) {
        list[i] = scan.boundaries[i];
    }
    return scan.boundaryCount;
}
