#include <string.h>
#include <windows.h>

#include "folder_walk.h"
#include "names_win.h"
#include "text.h"

bool IsFolderPath(const char* path) {
    DWORD attributes = NameAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    const bool separated = !folder.empty() && IsDirectorySeparator(folder.back());
    return separated ? folder + name : folder + '\\' + name;
}

int ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    wchar_t pattern[PATH_BUFFER_SIZE];
    int error = 0;
    if (!WideName((folder + "\\*").c_str(), pattern, PATH_BUFFER_SIZE, &error)) {
        return error;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    do {
        // Each name of MAX_PATH wide characters fits, in any code page.
        char name[PATH_BUFFER_SIZE];
        if (!NarrowName(found.cFileName, name, PATH_BUFFER_SIZE, &error)) {
            break;
        }
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
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
    } while (FindNextFileW(search, &found));
    if (error == 0 && GetLastError() != ERROR_NO_MORE_FILES) {
        error = static_cast<int>(GetLastError());
    }
    FindClose(search);
    return error;
}
