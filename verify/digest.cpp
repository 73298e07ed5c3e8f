#include "digest.h"

#include <gcrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "text.h"

namespace verify {

Digest::Digest(Kind kind) : kind_(kind) {
    // libgcrypt asks to be initialised once before any other call.
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    // Fails only when memory runs out, which the rest of the program does not survive either.
    if (gcry_md_open(&handle_, kind == Kind::Md5 ? GCRY_MD_MD5 : GCRY_MD_SHA1, 0) != 0) {
        abort();
    }
}

Digest::~Digest() {
    gcry_md_close(handle_);
}

void Digest::Update(const void* bytes, size_t size) {
    gcry_md_write(handle_, bytes, size);
}

void Digest::Finish(uint8_t* out) {
    int algorithm = kind_ == Kind::Md5 ? GCRY_MD_MD5 : GCRY_MD_SHA1;
    memcpy(out, gcry_md_read(handle_, algorithm), gcry_md_get_algo_dlen(algorithm));
    gcry_md_reset(handle_);
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
