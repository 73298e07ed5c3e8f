#include "text.h"

#include <stdint.h>

char* CopyString(char* destination, const char* source) {
    while ((*destination = *source) != '\0') {
        ++destination;
        ++source;
    }
    return destination;
}

const char* FindExtension(const char* path) {
    const char* lastMark = path;
    const char* p = path;
    while (*p != '\0') {
        if (*p == '.' || IsDirectorySeparator(*p)) {
            lastMark = p;
            ++p;
        } else {
            p = NextCharacter(p);
        }
    }
    return *lastMark == '.' ? lastMark : p;
}

char* FindExtension(char* path) {
    return const_cast<char*>(FindExtension(static_cast<const char*>(path)));
}

static unsigned char FoldCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = FoldCase(static_cast<unsigned char>(*a));
        unsigned char cb = FoldCase(static_cast<unsigned char>(*b));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == '\0') {
            return 0;
        }
    }
}

static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ParseDecimal(const char* text, int32_t* value) {
    while (IsSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Magnitude up to 2^31, which a negative number may reach.
    const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
    int64_t magnitude = 0;
    bool fits = true;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            fits = false;
            magnitude = limit;
        }
    }
    if (!fits) {
        *value = negative ? INT32_MIN : INT32_MAX;
        return false;
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t BoundedLength(const char* text, int32_t limit) {
    int32_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

int32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 16;
}
