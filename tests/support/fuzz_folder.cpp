#include "fuzz_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "scratch_dir.h"

namespace fuzzing {

namespace {

std::string folder;

void RemoveFolder() {
    if (!folder.empty()) {
        EmptyFolder(folder);
        rmdir(folder.c_str());
    }
}

}  // namespace

const std::string& ScratchFolder() {
    if (folder.empty()) {
        struct stat info;
        const char* tmp = getenv("TMPDIR");
        std::string base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode)
                               ? "/dev/shm"
                               : (tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp");
        std::string pattern = base + "/kestran-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        folder = pattern;
        atexit(RemoveFolder);
    }
    return folder;
}

std::vector<std::string> FolderNames(const std::string& path) {
    return testing_support::NamesIn(path);
}

void EmptyFolder(const std::string& path) {
    for (const std::string& name : FolderNames(path)) {
        std::string entry = path + "/" + name;
        if (unlink(entry.c_str()) != 0) {
            EmptyFolder(entry);
            rmdir(entry.c_str());
        }
    }
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
    bytes->clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    ssize_t n = 1;
    while (done < bytes->size() && (n = read(fd, bytes->data() + done, bytes->size() - done)) > 0) {
        done += static_cast<size_t>(n);
    }
    close(fd);
    return n >= 0 && done == bytes->size();
}

bool WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

void RandomBytes(uint32_t seed, size_t size, std::vector<uint8_t>* bytes) {
    bytes->resize(size);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < size; ++i) {
        // xorshift64: cheap, and enough to tell every sector from its neighbours.
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        (*bytes)[i] = static_cast<uint8_t>(state >> 24);
    }
}

bool HasLongLine(const uint8_t* data, size_t size) {
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        run = (data[i] == '\n' || data[i] == '\r') ? 0 : run + 1;
        if (run > 1000) {
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> WithLfEndings(const uint8_t* data, size_t size) {
    std::vector<uint8_t> lf;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\r') {
            lf.push_back('\n');
            if (i + 1 < size && data[i + 1] == '\n') {
                ++i;
            }
        } else {
            lf.push_back(data[i]);
        }
    }
    return lf;
}

void Finding(const char* target, const char* what) {
    fprintf(stderr, "%s: %s\n", target, what);
    if (!folder.empty()) {
        fprintf(stderr, "%s: the files are left in %s\n", target, folder.c_str());
    }
    abort();
}

}  // namespace fuzzing
