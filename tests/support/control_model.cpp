#include "control_model.h"

#include <ctype.h>

#include <map>

#include "image_model.h"

namespace model {

namespace {

constexpr size_t kLongestLine = 1023;
constexpr size_t kMostWords = 16;
constexpr size_t kMostAudioRegions = 99;
constexpr size_t kMostTracks = 99;
constexpr int32_t kMostSessions = 8;
constexpr int32_t kFirstTrackPoint = 0xA0;
constexpr int32_t kLeadOutPoint = 0xA2;

bool Is(const Word& word, const char* name) {
    std::string upper = word.text;
    for (char& c : upper) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return upper == name;
}

// The number that a word's leading digits spell, as atol reads it, held at INT32_MAX when larger.
int32_t Number(const Word& word) {
    int64_t value = 0;
    for (char c : word.text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

// A table-of-contents value: all decimal digits, or hexadecimal ones after 0x, without a sign,
// at most INT32_MAX. False for anything else.
bool TocNumber(const Word& word, int32_t* value) {
    std::string digits = word.text;
    int base = 10;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (word.minus || digits.empty()) {
        return false;
    }
    int64_t number = 0;
    for (char c : digits) {
        const bool decimal = c >= '0' && c <= '9';
        const bool hex = base == 16 && isxdigit(static_cast<unsigned char>(c));
        if (!decimal && !hex) {
            return false;
        }
        number = number * base + (decimal ? c - '0' : tolower(c) - 'a' + 10);
        if (number > INT32_MAX) {
            return false;
        }
    }
    *value = static_cast<int32_t>(number);
    return true;
}

bool IsWordByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A section head's first visible byte is '['.
bool IsHead(const std::string& line) {
    size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] == '[';
}

enum class Section { Other, Disc, Entry };

// Sets the entry value that a line of an [Entry n] section gives.
void ReadEntryLine(const std::vector<Word>& words, TocEntry& entry) {
    const std::pair<const char*, int32_t*> keys[] = {{"SESSION", &entry.session},
                                                     {"POINT", &entry.point},
                                                     {"ADR", &entry.adr},
                                                     {"PMIN", &entry.pMin},
                                                     {"PLBA", &entry.pLba}};
    for (const auto& key : keys) {
        if (Is(words[0], key.first)) {
            entry.unreadable |= words.size() < 2 || !TocNumber(words[1], key.second);
        }
    }
}

}  // namespace

std::vector<std::string> ControlLines(const std::string& bytes) {
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const std::string piece = text.substr(at, kLongestLine);
        const size_t end = piece.find_first_of("\r\n");
        if (end == std::string::npos) {
            lines.push_back(piece);
            at += piece.size();
            continue;
        }
        lines.push_back(piece.substr(0, end));
        at += end + 1;
        // CR LF is one line end, when the LF is read with the line.
        if (piece[end] == '\r' && end + 1 < piece.size() && piece[end + 1] == '\n') {
            ++at;
        }
    }
    return lines;
}

std::vector<Word> ControlWords(const std::string& line) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < line.size() && words.size() < kMostWords) {
        if (!IsWordByte(line[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < line.size() && IsWordByte(line[end])) {
            ++end;
        }
        words.push_back({line.substr(i, end - i), i > 0 && line[i - 1] == '-'});
        i = end;
    }
    return words;
}

ControlReading ReadControl(const std::string& bytes) {
    ControlReading reading;
    Section section = Section::Other;
    TocEntry entry;
    bool inTracks = false;  // a TRACK line has been read
    bool audio = false;     // tracks are audio until a MODE line says otherwise
    bool regionOpen = false;
    size_t regions = 0;
    for (const std::string& line : ControlLines(bytes)) {
        const std::vector<Word> words = ControlWords(line);
        if (words.empty()) {
            continue;
        }
        const bool trackLine = Is(words[0], "TRACK");

        // Sections, for the table of contents: a TRACK line ends one as a head does.
        if (IsHead(line) || trackLine) {
            if (section == Section::Entry) {
                reading.entries.push_back(entry);
            }
            section = !IsHead(line)           ? Section::Other
                      : Is(words[0], "ENTRY") ? Section::Entry
                      : Is(words[0], "DISC")  ? Section::Disc
                                              : Section::Other;
            entry = TocEntry();
            reading.hasEntries |= section == Section::Entry;
        } else if (section == Section::Entry) {
            ReadEntryLine(words, entry);
        } else if (section == Section::Disc && Is(words[0], "SESSIONS")) {
            if (words.size() < 2 || !TocNumber(words[1], &reading.declaredSessions)) {
                reading.declaredSessions = 0;
            }
        }

        // Tracks and regions, wherever the lines stand once a TRACK line has been read.
        if (trackLine) {
            audio = audio || !inTracks;
            inTracks = true;
            reading.tracks.push_back({words.size() >= 2 ? Number(words[1]) : 0, {}, false});
        } else if (!inTracks) {
            continue;
        } else if (Is(words[0], "MODE") && words.size() >= 2) {
            audio = Number(words[1]) == 0;
        } else if (Is(words[0], "INDEX") && words.size() >= 3) {
            ControlTrack& track = reading.tracks.back();
            track.index.push_back({Number(words[1]), Number(words[2])});
            track.negative |= words[2].minus;
            if (audio && !regionOpen) {
                if (regions < kMostAudioRegions) {
                    reading.boundaries.push_back(Number(words[2]));
                    regionOpen = true;
                    ++regions;
                } else {
                    reading.regionLeftOut = true;
                }
            } else if (!audio && regionOpen) {
                reading.boundaries.push_back(Number(words[2]));
                regionOpen = false;
            }
        }
    }
    if (section == Section::Entry) {
        reading.entries.push_back(entry);
    }
    return reading;
}

namespace {

struct TocTrackStart {
    int32_t session;
    int32_t start;
};

// The sessions that the table of contents gives, from the first; false when it contradicts itself.
bool ReadSessions(const ControlReading& reading, std::vector<Session>* sessions,
                  std::vector<int32_t>* firstTracks, std::map<int32_t, TocTrackStart>* toc) {
    std::map<int32_t, int32_t> firstTrack;  // by session
    std::map<int32_t, int32_t> leadOut;
    int32_t last = 0;
    for (const TocEntry& entry : reading.entries) {
        if (entry.adr != -1 && entry.adr != 1) {
            continue;  // not a track start (ADR 5: 0xB0, 0xC0)
        }
        if (entry.unreadable || entry.session < 1 || entry.point == -1) {
            return false;
        }
        last = std::max(last, entry.session);
        if (entry.point == kFirstTrackPoint) {
            if (entry.pMin < 1 || entry.pMin > static_cast<int32_t>(kMostTracks) ||
                firstTrack.emplace(entry.session, entry.pMin).first->second != entry.pMin) {
                return false;
            }
        } else if (entry.point == kLeadOutPoint) {
            if (entry.pLba == -1 ||
                leadOut.emplace(entry.session, entry.pLba).first->second != entry.pLba) {
                return false;
            }
        } else if (entry.point >= 1 && entry.point <= static_cast<int32_t>(kMostTracks)) {
            const TocTrackStart start = {entry.session, entry.pLba};
            const TocTrackStart listed = toc->emplace(entry.point, start).first->second;
            if (entry.pLba == -1 || listed.session != start.session ||
                listed.start != start.start) {
                return false;
            }
        }
    }
    if (last > kMostSessions ||
        (reading.declaredSessions != -1 && reading.declaredSessions != last)) {
        return false;
    }
    for (int32_t k = 1; k <= last; ++k) {
        if (firstTrack.count(k) == 0 || leadOut.count(k) == 0 || toc->count(firstTrack[k]) == 0 ||
            (*toc)[firstTrack[k]].session != k) {
            return false;
        }
        const Session session = {(*toc)[firstTrack[k]].start, leadOut[k]};
        const int64_t floor = sessions->empty() ? 0 : sessions->back().leadOut;
        if (session.firstTrack < floor || session.firstTrack >= session.leadOut) {
            return false;
        }
        sessions->push_back(session);
        firstTracks->push_back(firstTrack[k]);
    }
    for (const auto& listed : *toc) {
        const Session& session = (*sessions)[static_cast<size_t>(listed.second.session - 1)];
        if (listed.second.start < session.firstTrack || listed.second.start >= session.leadOut) {
            return false;
        }
    }
    return true;
}

// The highest session named by an entry that counts as a track start, readable, with its point.
int32_t LastSession(const ControlReading& reading) {
    int32_t last = 0;
    for (const TocEntry& entry : reading.entries) {
        if ((entry.adr == -1 || entry.adr == 1) && !entry.unreadable && entry.session >= 1 &&
            entry.point != -1) {
            last = std::max(last, entry.session);
        }
    }
    return last;
}

// Where session `k` (from 1) begins on the disc: at the lead-out of the one before it.
int64_t Floor(const std::vector<Session>& sessions, size_t k) {
    return k == 1 ? 0 : sessions[k - 2].leadOut;
}

size_t SessionHolding(const std::vector<Session>& sessions, int64_t address) {
    size_t k = sessions.size();
    while (k > 1 && address < Floor(sessions, k)) {
        --k;
    }
    return k;
}

// True when every track lies in one session: the one the table of contents lists it in, or else
// the one its INDEX 1 (its lowest index without one) falls in; only a session's first track may
// start in the gap before it, and a listed track's INDEX 1 is where the list says.
bool TracksFit(const ControlReading& reading, const std::vector<Session>& sessions,
               const std::vector<int32_t>& firstTracks,
               const std::map<int32_t, TocTrackStart>& toc) {
    if (reading.tracks.size() > kMostTracks) {
        return false;
    }
    int32_t previous = 0;
    for (const ControlTrack& track : reading.tracks) {
        if (track.number <= previous || track.number > static_cast<int32_t>(kMostTracks) ||
            track.negative) {
            return false;
        }
        previous = track.number;
        const auto listed = toc.find(track.number);
        int64_t lowest = INT64_MAX;
        int64_t highest = -1;
        int64_t index1 = -1;
        for (const auto& index : track.index) {
            lowest = std::min<int64_t>(lowest, index.second);
            highest = std::max<int64_t>(highest, index.second);
            if (index.first == 1 && index1 == -1) {
                index1 = index.second;
            }
        }
        if (listed == toc.end() && track.index.empty()) {
            return false;
        }
        if (listed != toc.end() && index1 != -1 && index1 != listed->second.start) {
            return false;
        }
        const size_t k = listed != toc.end()
                             ? static_cast<size_t>(listed->second.session)
                             : SessionHolding(sessions, index1 != -1 ? index1 : lowest);
        if (track.index.empty()) {
            continue;
        }
        if (lowest < Floor(sessions, k) || highest >= sessions[k - 1].leadOut) {
            return false;
        }
        if (k > 1 && lowest < sessions[k - 1].firstTrack && track.number != firstTracks[k - 1]) {
            return false;
        }
    }
    return true;
}

}  // namespace

PlacedReading PlaceReading(const ControlReading& reading, int64_t sectors) {
    const int32_t last = LastSession(reading);
    if (!reading.hasEntries || (reading.declaredSessions <= 1 && last <= 1)) {
        for (size_t t = 0; t < reading.tracks.size() && t < 99; ++t) {
            for (const std::pair<int32_t, int32_t>& index : reading.tracks[t].index) {
                if (index.second >= sectors) {
                    return {Placement::IndexPastImage, {}};
                }
            }
        }
        return {Placement::SingleSession, reading.boundaries};
    }
    std::vector<Session> sessions;
    std::vector<int32_t> firstTracks;
    std::map<int32_t, TocTrackStart> toc;
    if (reading.regionLeftOut || !ReadSessions(reading, &sessions, &firstTracks, &toc) ||
        !TracksFit(reading, sessions, firstTracks, toc)) {
        return {Placement::Contradictory, {}};
    }
    const int64_t stored = sessions.back().leadOut;
    const int64_t leftOut = SectorWithoutGaps(sessions, stored - 1) + 1;
    if (sectors != leftOut && sectors != stored) {
        return {Placement::SizeMismatch, {}};
    }
    std::vector<int32_t> placed;
    for (int32_t address : reading.boundaries) {
        placed.push_back(static_cast<int32_t>(
            sectors == leftOut ? SectorWithoutGaps(sessions, address) : address));
    }
    return {sectors == leftOut ? Placement::GapLeftOut : Placement::GapStored, placed};
}

}  // namespace model
