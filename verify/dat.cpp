#include "dat.h"

#include <expat.h>
#include <string.h>

#include <memory>

#include "file.h"
#include "text.h"

namespace verify {

namespace {

struct ParserState {
    Dat* dat;
    XML_Parser parser;
    DatEntry entry;
    int entryDepth = -1;  // depth of the open entry element, -1 when none is open
    int depth = 0;
    bool declaresEntities = false;
};

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

DatRom ReadRom(const XML_Char** attributes) {
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

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    ParserState& state = *static_cast<ParserState*>(data);
    ++state.depth;
    if (state.entryDepth < 0 && IsEntryElement(name)) {
        state.entryDepth = state.depth;
        state.entry = DatEntry();
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (strcmp(attributes[i], "name") == 0) {
                state.entry.name = attributes[i + 1];
            }
        }
    } else if (state.entryDepth >= 0 && strcmp(name, "rom") == 0) {
        DatRom rom = ReadRom(attributes);
        if (IsTrackFileName(rom.name)) {
            state.entry.tracks.push_back(std::move(rom));
        }
    }
}

void XMLCALL EndElement(void* data, const XML_Char*) {
    ParserState& state = *static_cast<ParserState*>(data);
    if (state.depth == state.entryDepth) {
        if (!state.entry.tracks.empty()) {
            state.dat->entries.push_back(std::move(state.entry));
        }
        state.entryDepth = -1;
    }
    --state.depth;
}

void XMLCALL EntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                               const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    ParserState& state = *static_cast<ParserState*>(data);
    state.declaresEntities = true;
    XML_StopParser(state.parser, XML_FALSE);
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

class DatParser {
  public:
    explicit DatParser(Dat& dat) : parser_(XML_ParserCreate(nullptr)) {
        dat.entries.clear();
        state_.dat = &dat;
        state_.parser = parser_.get();
        XML_SetUserData(parser_.get(), &state_);
        XML_SetElementHandler(parser_.get(), StartElement, EndElement);
        XML_SetEntityDeclHandler(parser_.get(), EntityDeclaration);
    }

    // Feeds the next piece; false once the text is found faulty (`result` then says why).
    bool Feed(const char* text, size_t size, bool last, DatLoad& result) {
        if (XML_Parse(parser_.get(), text, static_cast<int>(size), last ? XML_TRUE : XML_FALSE) ==
            XML_STATUS_OK) {
            return true;
        }
        result.line = static_cast<int64_t>(XML_GetCurrentLineNumber(parser_.get()));
        result.column = static_cast<int64_t>(XML_GetCurrentColumnNumber(parser_.get()));
        if (state_.declaresEntities) {
            result.status = DatStatus::DeclaresEntities;
        } else {
            result.status = DatStatus::NotWellFormed;
            result.detail = XML_ErrorString(XML_GetErrorCode(parser_.get()));
        }
        return false;
    }

    void Finish(DatLoad& result) {
        if (result.status == DatStatus::Loaded && state_.dat->entries.empty()) {
            result.status = DatStatus::NoEntries;
        }
        if (result.status != DatStatus::Loaded) {
            state_.dat->entries.clear();
        }
    }

  private:
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser_;
    ParserState state_;
};

}  // namespace

bool IsTrackFileName(const std::string& name) {
    return name.size() >= 4 && CompareNoCase(name.c_str() + name.size() - 4, ".BIN") == 0;
}

DatLoad ParseDat(const char* text, size_t size, Dat& dat) {
    DatLoad result;
    DatParser parser(dat);
    // XML_Parse takes an int length: feed large texts in pieces.
    constexpr size_t kPiece = 1 << 24;
    size_t done = 0;
    bool ok = true;
    do {
        size_t piece = size - done < kPiece ? size - done : kPiece;
        ok = parser.Feed(text + done, piece, done + piece == size, result);
        done += piece;
    } while (ok && done < size);
    parser.Finish(result);
    return result;
}

DatLoad LoadDat(const std::string& path, Dat& dat, const std::function<bool()>& cancelled) {
    DatLoad result;
    // The file layer opens regular files only: a FIFO or a device would wait or act.
    File file;
    if (!file.OpenForReading(path.c_str())) {
        result.status = DatStatus::CannotOpen;
        result.systemError = file.LastError();
        dat.entries.clear();
        return result;
    }
    DatParser parser(dat);
    constexpr int32_t kPiece = 1 << 20;
    std::vector<char> buffer(kPiece);
    bool ok = true;
    while (ok) {
        if (cancelled && cancelled()) {
            result.status = DatStatus::Cancelled;
            break;
        }
        int32_t got = file.Read(buffer.data(), kPiece);
        if (got < 0) {
            result.status = DatStatus::ReadFailed;
            result.systemError = file.LastError();
            break;
        }
        bool last = got < kPiece;
        ok = parser.Feed(buffer.data(), static_cast<size_t>(got), last, result) && !last;
    }
    parser.Finish(result);
    return result;
}

}  // namespace verify
