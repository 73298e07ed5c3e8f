#include "hash_check.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <zlib.h>

namespace hash_check {

verify::TrackHashes HashesOf(const model::Bytes& bytes, int64_t first, int64_t end) {
    verify::TrackHashes hashes;
    const uint8_t* start = bytes.data() + first;
    const size_t size = static_cast<size_t>(end - first);
    hashes.crc = static_cast<uint32_t>(crc32(0, start, static_cast<uInt>(size)));
    EVP_Digest(start, size, hashes.md5.data(), nullptr, EVP_md5(), nullptr);
    EVP_Digest(start, size, hashes.sha1.data(), nullptr, EVP_sha1(), nullptr);
    return hashes;
}

std::string RomLine(const std::string& name, int64_t size, const verify::TrackHashes& hashes) {
    char crc[9];
    snprintf(crc, sizeof(crc), "%08x", hashes.crc);
    return "<rom name=\"" + name + "\" size=\"" + std::to_string(size) + "\" crc=\"" + crc +
           "\" md5=\"" + verify::HexText(hashes.md5.data(), 16) + "\" sha1=\"" +
           verify::HexText(hashes.sha1.data(), 20) + "\"/>";
}

}  // namespace hash_check
