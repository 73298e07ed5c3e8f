// Reads DAT files with XmlLite, which Windows ships (xmllite.dll).
#include <objidl.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <xmllite.h>

#include <string>
#include <vector>

#include "dat.h"
#include "dat_reader.h"
#include "file.h"

namespace verify {

namespace {

using CreateReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// Loaded from the system folder, never from beside the program; null where it is missing.
CreateReaderFunction CreateReader() {
    static const CreateReaderFunction create = [] {
        static const wchar_t kName[] = L"\\xmllite.dll";
        wchar_t path[MAX_PATH];
        UINT length = GetSystemDirectoryW(path, MAX_PATH - ARRAYSIZE(kName));
        HMODULE module = nullptr;
        if (length > 0 && length < MAX_PATH - ARRAYSIZE(kName)) {
            memcpy(path + length, kName, sizeof kName);
            module = LoadLibraryW(path);
        }
        FARPROC procedure = module != nullptr ? GetProcAddress(module, "CreateXmlReader") : nullptr;
        return reinterpret_cast<CreateReaderFunction>(reinterpret_cast<void (*)()>(procedure));
    }();
    return create;
}

template <typename Interface>
struct Held {
    Interface* pointer = nullptr;
    ~Held() {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
};

std::string Utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string QualifiedName(IXmlReader* xml) {
    const wchar_t* name = L"";
    xml->GetQualifiedName(&name, nullptr);
    return Utf8(name);
}

// XmlLite would expand the entities that a document declares: refused, as the expat reading
// refuses them.
bool FindEntityDeclaration(const char* text, size_t size, DatLoad& result) {
    static const char kDeclaration[] = "<!ENTITY";
    const size_t length = sizeof kDeclaration - 1;
    int64_t line = 1;
    const char* lineStart = text;
    for (size_t i = 0; i + length <= size; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = text + i + 1;
        } else if (memcmp(text + i, kDeclaration, length) == 0) {
            result.status = DatStatus::DeclaresEntities;
            result.line = line;
            result.column = text + i - lineStart;
            return true;
        }
    }
    return false;
}

// Reads the document, reporting its elements to `reader`; a failure when XmlLite finds it faulty
// or when it ends with an element open or without any.
HRESULT ReadElements(IXmlReader* xml, DatReader& reader) {
    std::vector<std::string> attributes;
    std::vector<const char*> pointers;
    int depth = 0;
    bool sawElement = false;
    XmlNodeType type = XmlNodeType_None;
    HRESULT status = S_OK;
    while ((status = xml->Read(&type)) == S_OK) {
        if (type == XmlNodeType_Element) {
            bool empty = xml->IsEmptyElement();
            std::string name = QualifiedName(xml);
            attributes.clear();
            for (HRESULT more = xml->MoveToFirstAttribute(); more == S_OK;
                 more = xml->MoveToNextAttribute()) {
                const wchar_t* value = L"";
                xml->GetValue(&value, nullptr);
                attributes.push_back(QualifiedName(xml));
                attributes.push_back(Utf8(value));
            }
            xml->MoveToElement();
            pointers.clear();
            for (const std::string& text : attributes) {
                pointers.push_back(text.c_str());
            }
            pointers.push_back(nullptr);
            reader.StartElement(name.c_str(), pointers.data());
            sawElement = true;
            ++depth;
            if (empty) {
                reader.EndElement();
                --depth;
            }
        } else if (type == XmlNodeType_EndElement) {
            reader.EndElement();
            --depth;
        }
    }
    if (SUCCEEDED(status) && (!sawElement || depth != 0)) {
        status = MX_E_INPUTEND;
    }
    return status;
}

}  // namespace

DatLoad ParseDat(const char* text, size_t size, Dat& dat) {
    DatLoad result;
    DatReader reader(dat);
    if (FindEntityDeclaration(text, size, result)) {
        reader.Finish(result);
        return result;
    }
    Held<IStream> stream;
    Held<IXmlReader> xml;
    CreateReaderFunction create = CreateReader();
    if (size <= UINT_MAX) {
        stream.pointer =
            SHCreateMemStream(reinterpret_cast<const BYTE*>(text), static_cast<UINT>(size));
    }
    if (stream.pointer == nullptr || create == nullptr ||
        FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&xml.pointer), nullptr))) {
        result.status = DatStatus::ReadFailed;
        result.systemError =
            stream.pointer == nullptr ? ERROR_NOT_ENOUGH_MEMORY : ERROR_MOD_NOT_FOUND;
        reader.Finish(result);
        return result;
    }
    // DAT files name their document type; nothing is fetched for it.
    xml.pointer->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
    xml.pointer->SetProperty(XmlReaderProperty_XmlResolver, 0);
    xml.pointer->SetInput(stream.pointer);
    HRESULT status = ReadElements(xml.pointer, reader);
    if (FAILED(status)) {
        UINT line = 0;
        UINT column = 0;
        xml.pointer->GetLineNumber(&line);
        xml.pointer->GetLinePosition(&column);
        char detail[48];
        if (status == static_cast<HRESULT>(MX_E_INPUTEND)) {
            snprintf(detail, sizeof detail, "the document ends before its last element does");
        } else {
            snprintf(detail, sizeof detail, "XmlLite error 0x%08lX",
                     static_cast<unsigned long>(status));
        }
        result.status = DatStatus::NotWellFormed;
        result.line = line > 0 ? line : 1;
        result.column = column > 0 ? column - 1 : 0;  // counted from 0, as expat counts
        result.detail = detail;
    }
    reader.Finish(result);
    return result;
}

DatLoad LoadDat(const std::string& path, Dat& dat, const std::function<bool()>& cancelled) {
    DatLoad result;
    File file;
    std::vector<char> text;
    if (!file.OpenForReading(path.c_str())) {
        result.status = DatStatus::CannotOpen;
    } else {
        constexpr int32_t kPiece = 1 << 20;
        int32_t got = 0;
        do {
            if (cancelled && cancelled()) {
                dat.entries.clear();
                result.status = DatStatus::Cancelled;
                return result;
            }
            size_t done = text.size();
            text.resize(done + kPiece);
            got = file.Read(text.data() + done, kPiece);
            text.resize(done + (got > 0 ? got : 0));
        } while (got == kPiece);
        if (got < 0) {
            result.status = DatStatus::ReadFailed;
        }
    }
    if (result.status != DatStatus::Loaded) {
        result.systemError = file.LastError();
        dat.entries.clear();
        return result;
    }
    return ParseDat(text.data(), text.size(), dat);
}

}  // namespace verify
