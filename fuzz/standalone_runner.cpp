// Runs a fuzz target over the files given, or over every file of the folders given, without
// libFuzzer: so a target's corpus runs as an ordinary test under any compiler.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> FilesIn(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    if (!S_ISDIR(info.st_mode)) {
        return {path};
    }
    std::vector<std::string> files;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                files.push_back(path + "/" + name);
            }
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> files = FilesIn(argv[i]);
        if (files.empty()) {
            fprintf(stderr, "%s: no inputs\n", argv[i]);
            return 1;
        }
        for (const std::string& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                fprintf(stderr, "%s: cannot read\n", file.c_str());
                return 1;
            }
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++runs;
        }
    }
    printf("%zu inputs run\n", runs);
    return runs > 0 ? 0 : 1;
}
