#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include "folder_walk.h"
#include "text.h"

bool IsFolderPath(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

std::string InFolder(const std::string& folder, const std::string& name) {
    const bool separated = !folder.empty() && IsDirectorySeparator(folder.back());
    return separated ? folder + name : folder + '/' + name;
}

int ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return errno;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = InFolder(folder, name);
        struct stat status;
        EntryKind kind = EntryKind::Other;
        if (lstat(path.c_str(), &status) == 0) {
            if (S_ISDIR(status.st_mode)) {
                kind = EntryKind::Folder;
            } else if (S_ISREG(status.st_mode) ||
                       (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) == 0 &&
                        S_ISREG(status.st_mode))) {
                kind = EntryKind::File;
            }
        }
        entries.push_back({name, kind});
    }
    closedir(dir);
    return error;
}
