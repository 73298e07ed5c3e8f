#include "cue_sheet.h"

#include "file.h"
#include "job_host.h"
#include "sector.h"
#include "text.h"

namespace {

constexpr int32_t MAX_WORDS = 8;
constexpr int32_t FRAMES_PER_SECOND = 75;
constexpr int32_t SECONDS_PER_MINUTE = 60;

struct TrackTypeName {
    const char* name;
    SheetTrackType type;
    int32_t sectorSize;
};

const TrackTypeName kTrackTypes[] = {
    {"AUDIO", SheetTrackType::Audio, SECTOR_SIZE},
    {"MODE1/2352", SheetTrackType::Mode1, SECTOR_SIZE},
    {"MODE2/2352", SheetTrackType::Mode2, SECTOR_SIZE},
    {"CDI/2352", SheetTrackType::Cdi, SECTOR_SIZE},
    {"MODE1/2048", SheetTrackType::OtherSize, 2048},
    {"MODE2/2336", SheetTrackType::OtherSize, 2336},
    {"MODE2/2048", SheetTrackType::OtherSize, 2048},
    {"MODE2/2324", SheetTrackType::OtherSize, 2324},
    {"CDI/2336", SheetTrackType::OtherSize, 2336},
    {"CDG", SheetTrackType::OtherSize, 2448},
};

// What the reader keeps between lines besides the sheet itself.
struct ReadState {
    SheetTrack* track;        // the track whose lines are being read, or nullptr
    bool trackIndexed;        // it has had an INDEX line
    int32_t lastIndexNumber;  // of its last INDEX line; -1 before any
    int32_t session;          // from the last REM SESSION; 0 before any
    int32_t line;             // the line being read, from 1
};

}  // namespace

static bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static char* SkipBlanks(char* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    return text;
}

// Cuts the line in place into blank-separated words; returns how many, at most `room`.
static int32_t SplitWords(char* line, char** words, int32_t room) {
    int32_t count = 0;
    char* p = SkipBlanks(line);
    while (*p != '\0' && count < room) {
        words[count++] = p;
        while (*p != '\0' && !IsBlank(*p)) {
            ++p;
        }
        if (*p != '\0') {
            *p++ = '\0';
            p = SkipBlanks(p);
        }
    }
    return count;
}

// A number written only in decimal digits that fits 32 bits.
static bool ReadNumber(const char* word, int32_t* value) {
    if (*word == '\0') {
        return false;
    }
    for (const char* p = word; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    return ParseDecimal(word, value);
}

// "mm:ss:ff" as sectors, with ss < 60 and ff < 75.
static bool ReadTime(char* word, int32_t* sectors) {
    char* parts[3] = {word, nullptr, nullptr};
    int32_t count = 1;
    for (char* p = word; *p != '\0'; ++p) {
        if (*p == ':') {
            if (count == 3) {
                return false;
            }
            *p = '\0';
            parts[count++] = p + 1;
        }
    }
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t frames = 0;
    if (count != 3 || !ReadNumber(parts[0], &minutes) || !ReadNumber(parts[1], &seconds) ||
        !ReadNumber(parts[2], &frames) || seconds >= SECONDS_PER_MINUTE ||
        frames >= FRAMES_PER_SECOND) {
        return false;
    }
    int64_t value =
        (static_cast<int64_t>(minutes) * SECONDS_PER_MINUTE + seconds) * FRAMES_PER_SECOND + frames;
    if (value > INT32_MAX) {
        return false;
    }
    *sectors = static_cast<int32_t>(value);
    return true;
}

// FILE "name" TYPE or FILE name TYPE, where an unquoted name ends at the blank before the type.
static SheetProblem ReadFileLine(char* rest, SheetFile& file) {
    char* name = SkipBlanks(rest);
    char* type = nullptr;
    if (*name == '"') {
        ++name;
        char* close = name;
        while (*close != '\0' && *close != '"') {
            ++close;
        }
        if (*close == '\0') {
            return SheetProblem::BadFile;
        }
        *close = '\0';
        type = SkipBlanks(close + 1);
    } else {
        char* end = name;
        while (*end != '\0') {
            ++end;
        }
        while (end > name && IsBlank(end[-1])) {
            --end;
        }
        *end = '\0';
        type = end;
        while (type > name && !IsBlank(type[-1])) {
            --type;
        }
        char* nameEnd = type;
        while (nameEnd > name && IsBlank(nameEnd[-1])) {
            --nameEnd;
        }
        *nameEnd = '\0';
    }
    char* words[MAX_WORDS];
    if (*name == '\0' || SplitWords(type, words, MAX_WORDS) == 0) {
        return SheetProblem::BadFile;
    }
    CopyString(file.name, name);
    file.type = CompareNoCase(words[0], "BINARY") == 0     ? SheetFileType::Binary
                : CompareNoCase(words[0], "MOTOROLA") == 0 ? SheetFileType::Motorola
                                                           : SheetFileType::Other;
    file.lastIndex = NOT_GIVEN;
    file.lastIndexTrack = 0;
    return SheetProblem::None;
}

static SheetProblem ReadTrackLine(char** words, int32_t count, CueSheet& sheet, ReadState& state) {
    if (sheet.fileCount == 0) {
        return SheetProblem::TrackBeforeFile;
    }
    if (sheet.trackCount == MAX_TRACKS) {
        return SheetProblem::TooManyTracks;
    }
    int32_t number = 0;
    int32_t previous = sheet.trackCount == 0 ? 0 : sheet.tracks[sheet.trackCount - 1].number;
    if (count < 2 || !ReadNumber(words[1], &number) || number < 1 || number > MAX_TRACKS ||
        number <= previous) {
        return SheetProblem::BadTrackNumber;
    }
    SheetTrack& track = sheet.tracks[sheet.trackCount++];
    track.number = number;
    track.type = SheetTrackType::Unknown;
    track.sectorSize = 0;
    for (const TrackTypeName& known : kTrackTypes) {
        if (count >= 3 && CompareNoCase(words[2], known.name) == 0) {
            track.type = known.type;
            track.sectorSize = known.sectorSize;
        }
    }
    track.file = sheet.fileCount - 1;
    track.session = state.session == 0 ? 1 : state.session;
    track.index0 = NOT_GIVEN;
    track.index1 = NOT_GIVEN;
    track.index1File = track.file;
    track.pregap = 0;
    track.postgap = 0;
    track.line = state.line;
    state.track = &track;
    state.trackIndexed = false;
    state.lastIndexNumber = -1;
    return SheetProblem::None;
}

static SheetProblem ReadIndexLine(char** words, int32_t count, CueSheet& sheet, ReadState& state) {
    int32_t number = 0;
    int32_t sector = 0;
    if (count != 3 || !ReadNumber(words[1], &number) || number > 99 ||
        !ReadTime(words[2], &sector)) {
        return SheetProblem::BadIndex;
    }
    SheetTrack& track = *state.track;
    int32_t fileIndex = sheet.fileCount - 1;
    SheetFile& file = sheet.files[fileIndex];
    if (number <= state.lastIndexNumber || sector <= file.lastIndex) {
        return SheetProblem::IndexOutOfOrder;
    }
    if (!state.trackIndexed) {
        track.file = fileIndex;
        track.index1File = fileIndex;
        state.trackIndexed = true;
    }
    if (number == 0) {
        track.index0 = sector;
    } else if (number == 1) {
        track.index1 = sector;
        track.index1File = fileIndex;
    }
    state.lastIndexNumber = number;
    file.lastIndex = sector;
    file.lastIndexTrack = track.number;
    return SheetProblem::None;
}

// Reads one line; `cut` says that it goes on past the buffer.
static SheetProblem ReadLine(char* line, bool cut, CueSheet& sheet, ReadState& state) {
    char* words[MAX_WORDS];
    char* keyword = SkipBlanks(line);
    char* rest = keyword;
    while (*rest != '\0' && !IsBlank(*rest)) {
        ++rest;
    }
    if (*rest != '\0') {
        *rest++ = '\0';
    }
    if (CompareNoCase(keyword, "FILE") == 0) {
        if (cut) {
            return SheetProblem::NameTooLong;
        }
        if (sheet.fileCount == MAX_SHEET_FILES) {
            return SheetProblem::TooManyFiles;
        }
        SheetFile& file = sheet.files[sheet.fileCount];
        SheetProblem problem = ReadFileLine(rest, file);
        file.line = state.line;
        sheet.fileCount += problem == SheetProblem::None ? 1 : 0;
        return problem;
    }
    // words[0] is the keyword, the words after it follow.
    int32_t count = SplitWords(rest, words + 1, MAX_WORDS - 1) + 1;
    words[0] = keyword;
    if (CompareNoCase(keyword, "TRACK") == 0) {
        if (state.track != nullptr && state.track->index1 == NOT_GIVEN) {
            return SheetProblem::NoIndex1;  // names the line of the track that lacks it
        }
        return ReadTrackLine(words, count, sheet, state);
    }
    bool pregap = CompareNoCase(keyword, "PREGAP") == 0;
    bool postgap = CompareNoCase(keyword, "POSTGAP") == 0;
    if (CompareNoCase(keyword, "INDEX") == 0 || pregap || postgap) {
        if (state.track == nullptr) {
            return SheetProblem::IndexBeforeTrack;
        }
        if (!pregap && !postgap) {
            return ReadIndexLine(words, count, sheet, state);
        }
        int32_t* gap = pregap ? &state.track->pregap : &state.track->postgap;
        return count == 2 && ReadTime(words[1], gap) ? SheetProblem::None : SheetProblem::BadGap;
    }
    if (CompareNoCase(keyword, "REM") == 0 && count >= 2 &&
        CompareNoCase(words[1], "SESSION") == 0) {
        int32_t session = 0;
        if (count < 3 || !ReadNumber(words[2], &session) || session <= state.session) {
            return SheetProblem::BadSession;
        }
        state.session = session;
        sheet.sessions = session > sheet.sessions ? session : sheet.sessions;
    }
    // CATALOG, ISRC, FLAGS, TITLE, PERFORMER, SONGWRITER, other REM lines and the like.
    return SheetProblem::None;
}

static void StartSheet(CueSheet& sheet) {
    sheet.fileCount = 0;
    sheet.trackCount = 0;
    sheet.sessions = 1;
    sheet.problem = SheetProblem::None;
    sheet.problemLine = 0;
    sheet.cancelled = false;
}

void ReadCueSheet(File& file, char* buffer, CueSheet& sheet, JobHost* host) {
    StartSheet(sheet);
    ReadState state = {nullptr, false, -1, 0, 0};
    int32_t& line = state.line;
    bool continuation = false;  // the bytes read are the rest of a line cut in pieces
    int32_t consumed = 0;
    while ((consumed = ReadControlLine(file, buffer)) != 0) {
        bool cut = consumed == TEXT_BUFFER_SIZE - 1 && BoundedLength(buffer, consumed) == consumed;
        if (continuation) {
            continuation = cut;
            continue;
        }
        continuation = cut;
        ++line;
        if (host != nullptr && line % CANCEL_CHECK_LINES == 0 && host->BusyFlag() == 0) {
            sheet.cancelled = true;
            return;
        }
        char* text = buffer;
        if (line == 1 && static_cast<unsigned char>(text[0]) == 0xEF &&
            static_cast<unsigned char>(text[1]) == 0xBB &&
            static_cast<unsigned char>(text[2]) == 0xBF) {
            text += 3;
        }
        SheetProblem problem = ReadLine(text, cut, sheet, state);
        if (problem != SheetProblem::None) {
            sheet.problem = problem;
            sheet.problemLine = problem == SheetProblem::NoIndex1 ? state.track->line : line;
            return;
        }
    }
    // A NUL byte ends the lines before the end of the file, as does a failed read.
    char probe = 0;
    if (file.Read(&probe, 1) != 0) {
        sheet.problem = SheetProblem::ReadFailed;
    } else if (sheet.trackCount == 0) {
        sheet.problem = SheetProblem::NoTracks;
    } else if (state.track->index1 == NOT_GIVEN) {
        sheet.problem = SheetProblem::NoIndex1;
        sheet.problemLine = state.track->line;
    }
}

// The last file that holds sectors of track `t`: up to the file where the next track's first
// INDEX lies, or the one before it when that INDEX is the next file's first sector.
static int32_t LastFileOfTrack(const CueSheet& sheet, int32_t t) {
    if (t + 1 == sheet.trackCount) {
        return sheet.fileCount - 1;
    }
    const SheetTrack& next = sheet.tracks[t + 1];
    int32_t nextFirst = next.index0 != NOT_GIVEN ? next.index0 : next.index1;
    int32_t last = nextFirst == 0 ? next.file - 1 : next.file;
    return last < sheet.tracks[t].index1File ? sheet.tracks[t].index1File : last;
}

static bool Refuse(CuePlacement& placement, PlacementProblem problem, int32_t file, int32_t track) {
    placement.problem = problem;
    placement.file = file;
    placement.track = track;
    return false;
}

// Refuses a file whose tracks are not all of raw 2352-byte sectors in a file of raw sectors.
static bool CheckSectorSizes(const CueSheet& sheet, CuePlacement& placement) {
    for (int32_t f = 0; f < sheet.fileCount; ++f) {
        int32_t audioTrack = 0;
        int32_t otherTrack = 0;
        for (int32_t t = 0; t < sheet.trackCount; ++t) {
            const SheetTrack& track = sheet.tracks[t];
            if (track.file > f || LastFileOfTrack(sheet, t) < f) {
                continue;
            }
            if (track.type == SheetTrackType::Audio) {
                audioTrack = audioTrack == 0 ? track.number : audioTrack;
            }
            if (track.sectorSize != SECTOR_SIZE || sheet.files[f].type == SheetFileType::Other) {
                otherTrack = otherTrack == 0 ? track.number : otherTrack;
            }
        }
        if (otherTrack != 0) {
            return audioTrack != 0
                       ? Refuse(placement, PlacementProblem::AudioNotRaw, f, audioTrack)
                       : Refuse(placement, PlacementProblem::OtherSectorSize, f, otherTrack);
        }
    }
    return true;
}

bool PlaceCueSheet(const CueSheet& sheet, const int64_t* fileBytes, CuePlacement& placement) {
    placement.streamSectors = 0;
    placement.problem = PlacementProblem::None;
    placement.file = -1;
    placement.track = 0;
    for (int32_t f = 0; f < MAX_SHEET_FILES; ++f) {
        placement.fileFirst[f] = NOT_GIVEN;
        placement.fileSectors[f] = 0;
    }
    for (int32_t t = 0; t < MAX_TRACKS; ++t) {
        placement.trackFirst[t] = NOT_GIVEN;
        placement.trackIndex1[t] = NOT_GIVEN;
    }
    if (!CheckSectorSizes(sheet, placement)) {
        return false;
    }
    for (int32_t f = 0; f < sheet.fileCount; ++f) {
        const SheetFile& file = sheet.files[f];
        if (fileBytes[f] < 0 || fileBytes[f] % SECTOR_SIZE != 0) {
            return Refuse(placement, PlacementProblem::NotWholeSectors, f, 0);
        }
        if (file.lastIndex != NOT_GIVEN && file.lastIndex >= fileBytes[f] / SECTOR_SIZE) {
            return Refuse(placement, PlacementProblem::IndexPastEnd, f, file.lastIndexTrack);
        }
    }
    for (int32_t f = 0; f < sheet.fileCount; ++f) {
        placement.fileFirst[f] = placement.streamSectors;
        placement.fileSectors[f] = fileBytes[f] / SECTOR_SIZE;
        placement.streamSectors += placement.fileSectors[f];
    }
    // The reader keeps INDEX values of one file in order; a sheet filled otherwise is checked.
    int64_t previous = -1;
    for (int32_t t = 0; t < sheet.trackCount; ++t) {
        const SheetTrack& track = sheet.tracks[t];
        int64_t first = placement.fileFirst[track.file] +
                        (track.index0 != NOT_GIVEN ? track.index0 : track.index1);
        int64_t index1 = placement.fileFirst[track.index1File] + track.index1;
        if (first <= previous || index1 < first) {
            return Refuse(placement, PlacementProblem::Overlap, track.file, track.number);
        }
        placement.trackFirst[t] = first;
        placement.trackIndex1[t] = index1;
        previous = index1;
    }
    return true;
}
