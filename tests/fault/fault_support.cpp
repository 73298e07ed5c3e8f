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
#include <stdexcept>

#include "program_run.h"

namespace fault {

namespace {

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

}  // namespace

Outcome OutcomeOf(const JobReport& report) {
    return Outcome{report.result, report.error, report.sectors, report.restored};
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
    *result = testing_support::ReadAll(pipeEnds[0]);
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
    std::string program = KESTRAN_CLI;
    std::vector<std::string> copies = args;
    std::vector<char*> argv = testing_support::ArgumentVector(program, copies);
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
    std::string text = testing_support::ReadAll(pipeEnds[0]);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace fault
