#include "digest.h"

#include <stdio.h>
#include <string.h>

#include "text.h"

namespace verify {

Digest::Digest(Kind kind) : kind_(kind) {
    md5_init(&md5_);
    sha1_init(&sha1_);
}

void Digest::Update(const void* bytes, size_t size) {
    const uint8_t* data = static_cast<const uint8_t*>(bytes);
    if (kind_ == Kind::Md5) {
        md5_update(&md5_, size, data);
    } else {
        sha1_update(&sha1_, size, data);
    }
}

void Digest::Finish(uint8_t* out) {
    // Nettle starts the context over once it gives the digest.
    if (kind_ == Kind::Md5) {
        md5_digest(&md5_, MD5_DIGEST_SIZE, out);
    } else {
        sha1_digest(&sha1_, SHA1_DIGEST_SIZE, out);
    }
}

std::string HexText(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return text;
}

std::string CrcText(uint32_t crc) {
    uint8_t bytes[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                        static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    return HexText(bytes, 4);
}

bool ParseHex(const char* text, uint8_t* out, size_t size) {
    if (strlen(text) != 2 * size) {
        return false;
    }
    for (size_t i = 0; i < size; ++i) {
        int32_t high = HexDigitValue(text[2 * i]);
        int32_t low = HexDigitValue(text[2 * i + 1]);
        if (high > 15 || low > 15) {
            return false;
        }
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

}  // namespace verify
