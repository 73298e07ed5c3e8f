#include "scratch_dir.h"

#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace testing_support {

namespace {

// A RAM disk where there is one: the tests write many images.
std::string ScratchBase() {
    const char* tmp = getenv("TMPDIR");
    if (tmp != nullptr && tmp[0] != '\0') {
        return tmp;
    }
    struct stat info;
    if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return "/tmp";
}

int OpenUp(const char* path, const struct stat* info, int type, FTW*) {
    if (type == FTW_D && !S_ISLNK(info->st_mode)) {
        chmod(path, 0700);
    }
    return 0;
}

int RemoveEntry(const char* path, const struct stat*, int type, FTW*) {
    if (type == FTW_DP) {
        rmdir(path);
    } else {
        unlink(path);
    }
    return 0;
}

}  // namespace

ScratchDir::ScratchDir() {
    std::string pattern = ScratchBase() + "/kestran-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    // Folders that a test made read-only must open up before their entries can go.
    nftw(path_.c_str(), OpenUp, 16, FTW_PHYS);
    nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> ScratchDir::Names() const {
    return NamesIn(path_);
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void WriteText(const std::string& path, const std::string& text) {
    model::WriteFileBytes(path, model::Bytes(text.begin(), text.end()));
}

model::Bytes RandomBytes(std::mt19937& random, size_t size) {
    model::Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

}  // namespace testing_support
