#include <windows.h>

#include "folder_walk.h"
#include "text.h"

bool IsFolderPath(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    const bool separated = !folder.empty() && IsDirectorySeparator(folder.back());
    return separated ? folder + name : folder + '\\' + name;
}

int ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    int error = 0;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const DWORD attributes = found.dwFileAttributes;
        EntryKind kind = EntryKind::File;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // Junctions and folder links are reparse points: not followed.
            kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::Other
                                                                    : EntryKind::Folder;
        }
        entries.push_back({name, kind});
    } while (FindNextFileA(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        error = static_cast<int>(GetLastError());
    }
    FindClose(search);
    return error;
}
