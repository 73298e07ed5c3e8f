// Reads DAT files with expat.
#include <expat.h>

#include <memory>
#include <vector>

#include "dat.h"
#include "dat_reader.h"
#include "file.h"

namespace verify {

namespace {

struct ParserState {
    DatReader reader;
    XML_Parser parser;
    bool declaresEntities = false;
};

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    static_cast<ParserState*>(data)->reader.StartElement(name, attributes);
}

void XMLCALL EndElement(void* data, const XML_Char*) {
    static_cast<ParserState*>(data)->reader.EndElement();
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
    explicit DatParser(Dat& dat)
        : parser_(XML_ParserCreate(nullptr)), state_{DatReader(dat), parser_.get()} {
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

    void Finish(DatLoad& result) { state_.reader.Finish(result); }

  private:
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser_;
    ParserState state_;
};

}  // namespace

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
