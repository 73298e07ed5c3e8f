// measure-run: runs one command and prints its wall time in seconds and its peak resident
// memory in KiB on one line, for bench/run.sh.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: measure-run [--stdout FILE] COMMAND [ARG...]\n"
    "Runs COMMAND (its output into FILE when given) and prints \"SECONDS PEAK_KIB\".\n"
    "Exits with the command's status.\n";

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const char* output = nullptr;
    if (argc > 2 && strcmp(argv[1], "--stdout") == 0) {
        output = argv[2];
        first = 3;
    }
    if (first >= argc) {
        fputs(kUsage, stderr);
        return 2;
    }
    fflush(stdout);
    const double start = Now();
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        if (output != nullptr) {
            int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
                perror(output);
                _exit(127);
            }
        }
        execvp(argv[first], argv + first);
        perror(argv[first]);
        _exit(127);
    }
    int status = 0;
    rusage usage;
    if (wait4(child, &status, 0, &usage) != child) {
        perror("wait4");
        return 2;
    }
    const double seconds = Now() - start;
    printf("%.6f %ld\n", seconds, usage.ru_maxrss);
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
