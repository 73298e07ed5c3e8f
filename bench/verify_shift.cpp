// verify-shift: checks a shifted image byte for byte against the independent image model.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "image_model.h"

namespace {

constexpr int64_t kSector = 2352;

const char kUsage[] =
    "Usage: verify-shift ORIGINAL RESULT SHIFT [FIRST:END...]\n"
    "Checks that RESULT is ORIGINAL with the audio of the sector ranges [FIRST, END) moved by\n"
    "SHIFT samples. Exit status: 0 equal, 1 different, 2 usage or read error.\n";

bool ReadWhole(const char* path, model::Bytes* bytes) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        perror(path);
        return false;
    }
    bool ok = fseek(f, 0, SEEK_END) == 0;
    long size = ok ? ftell(f) : -1;
    ok = size >= 0 && fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        ok = fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
    }
    fclose(f);
    if (!ok) {
        fprintf(stderr, "%s: cannot read\n", path);
    }
    return ok;
}

bool ParseRange(const char* text, std::pair<int64_t, int64_t>* range) {
    char* end = nullptr;
    range->first = strtoll(text, &end, 10);
    if (end == text || *end != ':') {
        return false;
    }
    const char* second = end + 1;
    range->second = strtoll(second, &end, 10);
    return end != second && *end == '\0' && range->first >= 0 && range->first <= range->second;
}

int Verify(int argc, char** argv) {
    char* end = nullptr;
    long shift = strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0') {
        fputs(kUsage, stderr);
        return 2;
    }
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (int i = 4; i < argc; ++i) {
        std::pair<int64_t, int64_t> range;
        if (!ParseRange(argv[i], &range)) {
            fputs(kUsage, stderr);
            return 2;
        }
        ranges.push_back(range);
    }
    model::Bytes original;
    model::Bytes result;
    if (!ReadWhole(argv[1], &original) || !ReadWhole(argv[2], &result)) {
        return 2;
    }
    const int64_t sectors = static_cast<int64_t>(original.size()) / kSector;
    const model::Bytes expected = model::ExpectedImage(
        original, model::AudioSectorsFromRanges(ranges, sectors), static_cast<int32_t>(shift));
    if (result.size() != expected.size()) {
        fprintf(stderr, "%s: %zu bytes, expected %zu\n", argv[2], result.size(), expected.size());
        return 1;
    }
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), result.begin());
    if (mismatch.first != expected.end()) {
        const int64_t at = mismatch.first - expected.begin();
        fprintf(stderr, "%s: differs from the model at byte %lld (sector %lld)\n", argv[2],
                static_cast<long long>(at), static_cast<long long>(at / kSector));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fputs(kUsage, stderr);
        return 2;
    }
    try {
        return Verify(argc, argv);
    } catch (const std::exception& error) {
        fprintf(stderr, "verify-shift: %s\n", error.what());
        return 2;
    }
}
