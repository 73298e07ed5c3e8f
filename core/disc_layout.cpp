#include "disc_layout.h"

namespace {

// Where each session lies on the disc and how far its addresses are from its image sectors.
struct Sessions {
    int32_t count;
    bool gapLeftOut;
    int64_t first[MAX_SESSIONS + 1];    // F_k: its first track's start
    int64_t leadOut[MAX_SESSIONS + 1];  // L_k
    int64_t shift[MAX_SESSIONS + 1];    // D_k: address minus image sector when the gap is left out
};

}  // namespace

bool IsPlaced(SessionLayout layout) {
    return layout == SessionLayout::SingleSession || layout == SessionLayout::GapLeftOut ||
           layout == SessionLayout::GapStored;
}

static bool IsMultiSession(const ControlScan& scan) {
    return scan.hasEntries && (scan.declaredSessions > 1 || scan.lastSession > 1);
}

// Session k holds the addresses from the previous session's lead-out (0 for the first) up to
// its own lead-out.
static int64_t SessionFloor(const Sessions& sessions, int32_t k) {
    return k == 1 ? 0 : sessions.leadOut[k - 1];
}

static int32_t SessionOf(const Sessions& sessions, int64_t address) {
    int32_t k = sessions.count;
    while (k > 1 && address < SessionFloor(sessions, k)) {
        --k;
    }
    return k;
}

static int32_t ImageSector(const Sessions& sessions, int32_t address) {
    if (!sessions.gapLeftOut) {
        return address;
    }
    int32_t k = SessionOf(sessions, address);
    int64_t onDisc = k > 1 && address < sessions.first[k] ? sessions.first[k] : address;
    return static_cast<int32_t>(onDisc - sessions.shift[k]);
}

// Reads F_k, L_k and D_k from the table of contents; false when it contradicts itself.
static bool ReadSessions(const ControlScan& scan, Sessions& sessions) {
    if (scan.entriesContradict || scan.lastSession > MAX_SESSIONS ||
        (scan.declaredSessions != NOT_GIVEN && scan.declaredSessions != scan.lastSession)) {
        return false;
    }
    sessions.count = scan.lastSession;
    for (int32_t k = 1; k <= sessions.count; ++k) {
        const TocSession& toc = scan.sessions[k];
        if (toc.firstTrack == NOT_GIVEN || toc.leadOut == NOT_GIVEN ||
            scan.toc[toc.firstTrack].session != k) {
            return false;
        }
        sessions.first[k] = scan.toc[toc.firstTrack].start;
        sessions.leadOut[k] = toc.leadOut;
        if (sessions.first[k] < SessionFloor(sessions, k) ||
            sessions.first[k] >= sessions.leadOut[k]) {
            return false;
        }
        sessions.shift[k] =
            k == 1 ? 0 : sessions.shift[k - 1] + sessions.first[k] - sessions.leadOut[k - 1];
    }
    for (int32_t number = 1; number <= MAX_TRACKS; ++number) {
        const TocTrack& track = scan.toc[number];
        if (track.session != 0 && (track.start < sessions.first[track.session] ||
                                   track.start >= sessions.leadOut[track.session])) {
            return false;
        }
    }
    return true;
}

// The session of each track, from the table of contents or else from its INDEX 1 (its lowest
// INDEX without one); 0 when the track cannot be placed or contradicts the table of contents.
static int32_t SessionOfTrack(const ControlScan& scan, const Sessions& sessions,
                              const ScannedTrack& track) {
    const TocTrack& toc = scan.toc[track.number];
    bool indexed = track.lowest <= track.highest;
    if (toc.session == 0 && !indexed) {
        return 0;
    }
    if (toc.session != 0 && track.index1 != NOT_GIVEN && track.index1 != toc.start) {
        return 0;
    }
    int32_t k = toc.session != 0
                    ? toc.session
                    : SessionOf(sessions, track.index1 != NOT_GIVEN ? track.index1 : track.lowest);
    if (indexed) {
        if (track.lowest < SessionFloor(sessions, k) || track.highest >= sessions.leadOut[k]) {
            return 0;
        }
        // Only a session's first track may begin in the gap before the session.
        if (k > 1 && track.lowest < sessions.first[k] &&
            track.number != scan.sessions[k].firstTrack) {
            return 0;
        }
    }
    return k;
}

static void FillTracks(const ControlScan& scan, const Sessions* sessions, TrackTable& tracks,
                       const int32_t* sessionOfTrack) {
    tracks.count = scan.trackCount;
    tracks.complete = !scan.tracksDropped;
    for (int32_t i = 0; i < scan.trackCount; ++i) {
        const ScannedTrack& from = scan.tracks[i];
        TrackInfo& to = tracks.tracks[i];
        to.number = from.number;
        to.mode = from.mode;
        to.session = sessionOfTrack != nullptr ? sessionOfTrack[i] : 1;
        to.firstSector = from.index0 != NOT_GIVEN ? from.index0 : from.index1;
        to.startSector = from.index1;
        to.startAddress = from.index1;
        if (sessions != nullptr && to.firstSector != NOT_GIVEN) {
            to.firstSector = ImageSector(*sessions, to.firstSector);
        }
        if (sessions != nullptr && to.startSector != NOT_GIVEN) {
            to.startSector = ImageSector(*sessions, to.startSector);
        }
    }
    const int32_t last =
        scan.hasEntries && scan.lastSession >= 1 && scan.lastSession <= MAX_SESSIONS
            ? scan.lastSession
            : 1;
    tracks.leadOut = scan.sessions[last].leadOut;
}

static SessionLayout Refuse(SessionLayout layout, BoundaryList& list, TrackTable& tracks) {
    list[0] = END_SENTINEL;
    tracks.count = 0;
    tracks.complete = false;
    tracks.leadOut = NOT_GIVEN;
    return layout;
}

SessionLayout PlaceInImage(const ControlScan& scan, int64_t imageSectors, BoundaryList& list,
                           TrackTable& tracks, int32_t* trackPastImage) {
    if (!IsMultiSession(scan)) {
        // A multi-session file without its entries reads as this, its later sessions' addresses
        // then lying past the image: shifting them would rewrite data as audio.
        for (int32_t i = 0; i < scan.trackCount && imageSectors >= 0; ++i) {
            const ScannedTrack& track = scan.tracks[i];
            if (track.lowest <= track.highest && track.highest >= imageSectors) {
                if (trackPastImage != nullptr) {
                    *trackPastImage = track.number;
                }
                return Refuse(SessionLayout::IndexPastImage, list, tracks);
            }
        }
        for (int32_t i = 0; i <= scan.boundaryCount; ++i) {
            list[i] = scan.boundaries[i];
        }
        FillTracks(scan, nullptr, tracks, nullptr);
        return SessionLayout::SingleSession;
    }

    Sessions sessions;
    if (scan.tracksDropped || scan.boundariesDropped || scan.negativeIndex ||
        !ReadSessions(scan, sessions)) {
        return Refuse(SessionLayout::Contradictory, list, tracks);
    }
    int32_t sessionOfTrack[MAX_TRACKS];
    int32_t previousNumber = 0;
    for (int32_t i = 0; i < scan.trackCount; ++i) {
        const ScannedTrack& track = scan.tracks[i];
        if (track.number <= previousNumber || track.number > MAX_TRACKS) {
            return Refuse(SessionLayout::Contradictory, list, tracks);
        }
        previousNumber = track.number;
        sessionOfTrack[i] = SessionOfTrack(scan, sessions, track);
        if (sessionOfTrack[i] == 0) {
            return Refuse(SessionLayout::Contradictory, list, tracks);
        }
    }

    int64_t gapLeftOut = sessions.leadOut[1];
    for (int32_t k = 2; k <= sessions.count; ++k) {
        gapLeftOut += sessions.leadOut[k] - sessions.first[k];
    }
    const int64_t gapStored = sessions.leadOut[sessions.count];
    if (imageSectors != gapLeftOut && imageSectors != gapStored) {
        return Refuse(SessionLayout::SizeMismatch, list, tracks);
    }
    sessions.gapLeftOut = imageSectors == gapLeftOut;

    // Every INDEX value lies in its track's session, so each boundary maps by its address.
    for (int32_t i = 0; i < scan.boundaryCount; ++i) {
        list[i] = ImageSector(sessions, scan.boundaries[i]);
    }
    list[scan.boundaryCount] = END_SENTINEL;
    FillTracks(scan, &sessions, tracks, sessionOfTrack);
    return sessions.gapLeftOut ? SessionLayout::GapLeftOut : SessionLayout::GapStored;
}
