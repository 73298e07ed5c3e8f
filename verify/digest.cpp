#include "digest.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>

#include <cstdlib>

#include "text.h"

namespace verify {

Digest::Digest(Kind kind) : context_(EVP_MD_CTX_new()), kind_(kind) {
    // Only memory exhaustion makes these fail, and nothing sensible can follow it.
    if (context_ == nullptr ||
        EVP_DigestInit_ex(context_, kind == Kind::Md5 ? EVP_md5() : EVP_sha1(), nullptr) != 1) {
        abort();
    }
}

Digest::~Digest() {
    EVP_MD_CTX_free(context_);
}

void Digest::Update(const void* bytes, size_t size) {
    EVP_DigestUpdate(context_, bytes, size);
}

void Digest::UpdateZeros(size_t size) {
    static const uint8_t kZeros[4096] = {};
    while (size > 0) {
        size_t piece = size < sizeof(kZeros) ? size : sizeof(kZeros);
        Update(kZeros, piece);
        size -= piece;
    }
}

void Digest::Finish(uint8_t* out) {
    EVP_DigestFinal_ex(context_, out, nullptr);
    EVP_DigestInit_ex(context_, kind_ == Kind::Md5 ? EVP_md5() : EVP_sha1(), nullptr);
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
