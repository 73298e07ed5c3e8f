#include "fault_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fault {

namespace {

constexpr int64_t kSector = 2352;

int ChownEntry(const char* path, const struct stat*, int, FTW*) {
    lchown(path, kNobody, kNoGroup);
    return 0;
}

void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string ReadAll(int fd) {
    std::string bytes;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof(chunk))) > 0) {
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace

Outcome OutcomeOf(const JobReport& report) {
    return Outcome{report.result, report.error, report.sectors, report.restored};
}

Disc MakeDisc(const std::vector<Run>& runs, uint32_t seed, int32_t tail) {
    Disc disc;
    disc.sectors = 0;
    std::vector<std::pair<int64_t, int64_t>> ranges;
    std::string tracks;
    std::string entries;
    int number = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const int64_t start = disc.sectors;
        if (run.audio) {
            ranges.emplace_back(start, start + run.sectors);
        }
        ++number;
        // A track after one of the other kind has a pregap: the kind changes at its index 0.
        const bool pregap = r > 0 && runs[r - 1].audio != run.audio && run.sectors > 1;
        tracks +=
            "[TRACK " + std::to_string(number) + "]\r\nMODE=" + (run.audio ? "0" : "1") + "\r\n";
        if (pregap) {
            tracks += "INDEX 0=" + std::to_string(start) + "\r\n";
        }
        tracks += "INDEX 1=" + std::to_string(start + (pregap ? 1 : 0)) + "\r\n";
        entries += "[Entry " + std::to_string(number + 2) + "]\r\nSession=1\r\nPoint=0x" +
                   std::to_string(number) + "\r\nADR=0x01\r\nControl=0x0" +
                   (run.audio ? "0" : "4") + "\r\nPLBA=" + std::to_string(start) + "\r\n";
        disc.sectors += run.sectors;
    }
    disc.control = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" + std::to_string(number + 3) +
                   "\r\nSessions=1\r\nDataTracksScrambled=0\r\nCDTextLength=0\r\n"
                   "[Session 1]\r\nPreGapMode=1\r\nPreGapSubC=0\r\n" +
                   entries + tracks;
    disc.audio = model::AudioSectorsFromRanges(ranges, disc.sectors);

    std::mt19937_64 random(seed);
    disc.image.resize(static_cast<size_t>(disc.sectors * kSector + tail));
    for (size_t i = 0; i + 8 <= disc.image.size(); i += 8) {
        uint64_t word = random();
        memcpy(&disc.image[i], &word, 8);
    }
    for (size_t i = disc.image.size() / 8 * 8; i < disc.image.size(); ++i) {
        disc.image[i] = static_cast<uint8_t>(random());
    }
    return disc;
}

void WriteDisc(const Disc& disc, const std::string& controlPath, const std::string& imagePath) {
    WriteText(controlPath, disc.control);
    model::WriteFileBytes(imagePath, disc.image);
}

Bytes Expected(const Disc& disc, int32_t shift) {
    return model::ExpectedImage(disc.image, disc.audio, shift);
}

Bytes Contents(const std::string& path, bool* present) {
    Bytes bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    bool ok = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        ssize_t n = 1;
        while (done < bytes.size() &&
               (n = read(fd, bytes.data() + done, bytes.size() - done)) > 0) {
            done += static_cast<size_t>(n);
        }
        ok = n >= 0 && done == bytes.size();
    }
    if (fd >= 0) {
        close(fd);
    }
    if (!ok) {
        bytes.clear();
    }
    if (present != nullptr) {
        *present = ok;
    }
    return bytes;
}

bool Holds(const std::string& path, const Bytes& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    static char chunk[1 << 20];
    size_t done = 0;
    ssize_t n = 0;
    bool same = true;
    while (same && (n = read(fd, chunk, sizeof(chunk))) > 0) {
        same = done + static_cast<size_t>(n) <= bytes.size() &&
               memcmp(chunk, bytes.data() + done, static_cast<size_t>(n)) == 0;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return same && n == 0 && done == bytes.size();
}

bool RunInChild(const std::function<std::string()>& work, std::string* result) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return false;
    }
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (child == 0) {
        close(pipeEnds[0]);
        WriteAll(pipeEnds[1], work());
        close(pipeEnds[1]);
        _exit(0);
    }
    close(pipeEnds[1]);
    *result = ReadAll(pipeEnds[0]);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void GiveToNobody(const std::string& path) {
    nftw(path.c_str(), ChownEntry, 16, FTW_PHYS);
}

bool DropPrivileges() {
    if (geteuid() != 0) {
        return true;
    }
    return setgroups(0, nullptr) == 0 && setgid(kNoGroup) == 0 && setuid(kNobody) == 0 &&
           geteuid() == kNobody;
}

int RunCli(const std::vector<std::string>& args, const std::string& directory,
           std::string* output) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return -1;
    }
    std::vector<char*> argv;
    std::string program = KESTRAN_CLI;
    argv.push_back(&program[0]);
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        if (chdir(directory.c_str()) != 0) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text = ReadAll(pipeEnds[0]);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace fault
