// Hashes of byte strings computed directly with zlib and libcrypto, to check the product's.
#pragma once

#include <stdint.h>

#include <string>

#include "digest.h"
#include "image_model.h"

namespace hash_check {

// The hashes of bytes [first, end) of `bytes`.
verify::TrackHashes HashesOf(const model::Bytes& bytes, int64_t first, int64_t end);

// A <rom> line for a DAT, from the hashes.
std::string RomLine(const std::string& name, int64_t size, const verify::TrackHashes& hashes);

}  // namespace hash_check
