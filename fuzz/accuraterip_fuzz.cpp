// Any bytes as a saved AccurateRip response: the reader must stay inside them, keep nothing from
// bytes it refuses, and keep exactly what it was given: its chunks written back are the bytes.
#include <stdint.h>

#include <vector>

#include "accuraterip.h"
#include "fuzz_folder.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        fuzzing::Finding("accuraterip", what);
    }
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int b = 0; b < 4; ++b) {
        out.push_back(static_cast<uint8_t>(value >> (8 * b)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<verify::ResponseChunk> chunks;
    verify::ResponseLoad load = verify::ParseResponse(data, size, nullptr, chunks);
    if (load.status != verify::ResponseStatus::Loaded) {
        Check(chunks.empty(), "chunks kept from refused bytes");
        return 0;
    }
    std::vector<uint8_t> written;
    for (const verify::ResponseChunk& chunk : chunks) {
        Check(chunk.id == chunks.front().id, "chunks of two discs");
        Check(static_cast<int32_t>(chunk.tracks.size()) == chunk.id.audioTracks,
              "a chunk with other than its tracks");
        written.push_back(static_cast<uint8_t>(chunk.id.audioTracks));
        Put32(written, chunk.id.id1);
        Put32(written, chunk.id.id2);
        Put32(written, chunk.id.cddb);
        for (const verify::ResponseTrack& track : chunk.tracks) {
            written.push_back(track.confidence);
            Put32(written, track.checksum);
            Put32(written, track.frame450);
        }
    }
    Check(written == std::vector<uint8_t>(data, data + size), "the chunks are not the bytes");
    std::vector<verify::ResponseChunk> named;
    load = verify::ParseResponse(data, size, &chunks.front().id, named);
    Check(load.status == verify::ResponseStatus::Loaded && named.size() == chunks.size(),
          "its own id refused");
    return 0;
}
