// The hashes that DAT files give per track file: CRC32 from zlib, MD5 and SHA-1 from libgcrypt
// (on Linux and Windows alike).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>

struct gcry_md_handle;

namespace verify {

using Md5 = std::array<uint8_t, 16>;
using Sha1 = std::array<uint8_t, 20>;

struct TrackHashes {
    uint32_t crc = 0;
    Md5 md5{};
    Sha1 sha1{};
};

// One running MD5 or SHA-1.
class Digest {
  public:
    enum class Kind { Md5, Sha1 };
    explicit Digest(Kind kind);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const void* bytes, size_t size);
    // Writes the digest (16 or 20 bytes) and starts over.
    void Finish(uint8_t* out);

  private:
    Kind kind_;
    gcry_md_handle* handle_ = nullptr;
};

// Lower-case hexadecimal text of `size` bytes.
std::string HexText(const uint8_t* bytes, size_t size);
std::string CrcText(uint32_t crc);

// Reads exactly 2 × `size` hexadecimal digits (either case) into `out`; false otherwise.
bool ParseHex(const char* text, uint8_t* out, size_t size);

}  // namespace verify
