// Places the control file's regions and tracks in the image. The control file gives disc
// addresses; the image of a multi-session disc may leave out the gap between its sessions
// (lead-out, lead-in and pregap), so its later sessions lie earlier in the image than on the disc.
#pragma once

#include <stdint.h>

#include "control_scan.h"

enum class SessionLayout {
    SingleSession,   // addresses are image sectors, as the control file gives them
    GapLeftOut,      // each session follows the previous session's lead-out directly
    GapStored,       // the image holds every sector up to the last lead-out: addresses as given
    SizeMismatch,    // a multi-session image whose size fits neither
    IndexPastImage,  // a single-session file with an INDEX past the image's last whole sector:
                     // it does not describe this image
    Contradictory,   // a multi-session table of contents that contradicts itself or the tracks,
                     // or more than MAX_SESSIONS sessions or MAX_TRACKS tracks
};

// One track as it lies in the image.
struct TrackInfo {
    int32_t number;
    int32_t mode;          // 0 for audio, anything else for data
    int32_t session;       // 1 on a single-session disc
    int32_t firstSector;   // INDEX 0 when given, else INDEX 1; NOT_GIVEN without either
    int32_t startSector;   // INDEX 1 in the image; NOT_GIVEN without it
    int32_t startAddress;  // INDEX 1 on the disc, as the control file gives it
};

struct TrackTable {
    TrackInfo tracks[MAX_TRACKS];
    int32_t count;
    bool complete;    // false when the control file has more track sections than the table holds
    int32_t leadOut;  // the disc address of the last session's lead-out; NOT_GIVEN when not listed
};

// True for the layouts in which the image is rewritten.
bool IsPlaced(SessionLayout layout);

// Checks a multi-session layout against an image of `imageSectors` whole sectors (negative when
// unknown) and fills `list` and `tracks` with image sectors. A single-session file (one without
// [Entry] sections, or whose entries and [Disc] name no session but the first) is placed as it
// is. A session k >= 2 whose gap is left out lies at its addresses less
// D_k = D_(k-1) + F_k - L_(k-1), F_k being its first track's start and L_(k-1) the previous
// session's lead-out; an address in the gap before it is taken as F_k. When the layout is
// refused, `list` holds only END_SENTINEL and `tracks` nothing; `*trackPastImage` (when given)
// is the number of the track that IndexPastImage found.
SessionLayout PlaceInImage(const ControlScan& scan, int64_t imageSectors, BoundaryList& list,
                           TrackTable& tracks, int32_t* trackPastImage = nullptr);
