#include "dat.h"

#include <string.h>

#include "dat_reader.h"
#include "text.h"

namespace verify {

namespace {

bool IsEntryElement(const char* name) {
    return strcmp(name, "game") == 0 || strcmp(name, "machine") == 0;
}

// Decimal digits only, as the DAT writes sizes.
bool ParseSize(const char* text, int64_t* size) {
    if (*text == '\0') {
        return false;
    }
    int64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > (INT64_MAX - 9) / 10) {
            return false;
        }
        value = value * 10 + (*p - '0');
    }
    *size = value;
    return true;
}

DatRom ReadRom(const char* const* attributes) {
    DatRom rom;
    for (int i = 0; attributes[i] != nullptr; i += 2) {
        const char* key = attributes[i];
        const char* value = attributes[i + 1];
        if (strcmp(key, "name") == 0) {
            rom.name = value;
        } else if (strcmp(key, "size") == 0) {
            if (!ParseSize(value, &rom.size)) {
                rom.size = -1;
            }
        } else if (strcmp(key, "crc") == 0) {
            uint8_t bytes[4] = {};
            rom.hasCrc = ParseHex(value, bytes, 4);
            rom.hashes.crc = static_cast<uint32_t>(bytes[0]) << 24 |
                             static_cast<uint32_t>(bytes[1]) << 16 |
                             static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
        } else if (strcmp(key, "md5") == 0) {
            rom.hasMd5 = ParseHex(value, rom.hashes.md5.data(), rom.hashes.md5.size());
        } else if (strcmp(key, "sha1") == 0) {
            rom.hasSha1 = ParseHex(value, rom.hashes.sha1.data(), rom.hashes.sha1.size());
        }
    }
    return rom;
}

}  // namespace

DatReader::DatReader(Dat& dat) : dat_(dat) {
    dat_.entries.clear();
}

void DatReader::StartElement(const char* name, const char* const* attributes) {
    ++depth_;
    if (entryDepth_ < 0 && IsEntryElement(name)) {
        entryDepth_ = depth_;
        entry_ = DatEntry();
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (strcmp(attributes[i], "name") == 0) {
                entry_.name = attributes[i + 1];
            }
        }
    } else if (entryDepth_ >= 0 && strcmp(name, "rom") == 0) {
        DatRom rom = ReadRom(attributes);
        if (IsTrackFileName(rom.name)) {
            entry_.tracks.push_back(std::move(rom));
        }
    }
}

void DatReader::EndElement() {
    if (depth_ == entryDepth_) {
        if (!entry_.tracks.empty()) {
            dat_.entries.push_back(std::move(entry_));
        }
        entryDepth_ = -1;
    }
    --depth_;
}

void DatReader::Finish(DatLoad& result) {
    if (result.status == DatStatus::Loaded && dat_.entries.empty()) {
        result.status = DatStatus::NoEntries;
    }
    if (result.status != DatStatus::Loaded) {
        dat_.entries.clear();
    }
}

bool IsTrackFileName(const std::string& name) {
    return name.size() >= 4 && CompareNoCase(name.c_str() + name.size() - 4, ".BIN") == 0;
}

}  // namespace verify
