// copy-methods: times ways of copying a file into a new one in the pieces that kestran copies
// (runs that end every 1024 sectors), at equal offsets as for data sectors or with the source read
// a few bytes ahead as for shifted audio. Rounds run every method in turn, so that the load of
// the moment weighs on all alike. For choosing how the file layer copies; not part of the checks.
// Usage: build/default/bench/copy-methods IMAGE SCRATCH/out.img 9 120
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int64_t kPiece = 1024 * 2352;  // bytes between two progress points

const char kUsage[] =
    "Usage: copy-methods SOURCE TARGET [ROUNDS [SKIP_BYTES]]\n"
    "Copies SOURCE to TARGET (created anew for each run, removed after) by each method, ROUNDS\n"
    "times (default 5), reading the source SKIP_BYTES ahead (default 0; 120 as for a shift of\n"
    "-30) and filling the last SKIP_BYTES with zeros. Prints the median and fastest seconds, and "
    "the\n"
    "median processor time. COPY_METHODS=1,4 (numbers as printed) times only those methods.\n";

enum class Kind { CopyFileRange, Splice, ReadWrite };

struct Method {
    const char* name;
    Kind kind;
    int64_t step;      // largest call; > 0: calls also end on multiples of it in the target
    int64_t pipeSize;  // for splice
    bool preallocate;  // fallocate the target's room first, its size kept
};

// Method 5 is what kestran does.
const Method kMethods[] = {
    {"copy_file_range, whole pieces", Kind::CopyFileRange, 0, 0, false},
    {"copy_file_range, 1 MiB steps", Kind::CopyFileRange, 1 << 20, 0, false},
    {"splice, 64 KiB pipe", Kind::Splice, -(64 << 10), 64 << 10, false},
    {"splice, 1 MiB pipe", Kind::Splice, -(1 << 20), 1 << 20, false},
    {"splice, 1 MiB pipe, preallocated", Kind::Splice, -(1 << 20), 1 << 20, true},
    {"splice, 1 MiB pipe, 512 KiB aligned", Kind::Splice, 512 << 10, 1 << 20, false},
    {"copy_file_range, whole, preallocated", Kind::CopyFileRange, 0, 0, true},
    {"pread + write, 256 sectors", Kind::ReadWrite, -(256 * 2352), 0, false},
};
constexpr int kMethodCount = sizeof(kMethods) / sizeof(kMethods[0]);

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Processor time of this process, user and system, in seconds.
double ProcessorTime() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool Fail(const char* what) {
    perror(what);
    return false;
}

// Copies [from, from + size) of `in` to the end of `out`, in calls that end on multiples of
// |step| in the target (or of |step| bytes each when step < 0).
bool CopySpan(const Method& m, int in, int out, int pipeEnds[2], int64_t from, int64_t to,
              int64_t size, char* buffer) {
    int64_t done = 0;
    while (done < size) {
        int64_t want = size - done;
        if (m.step > 0) {
            want = std::min(want, m.step - (to + done) % m.step);
        } else if (m.step < 0) {
            want = std::min(want, -m.step);
        }
        loff_t offset = from + done;
        switch (m.kind) {
            case Kind::CopyFileRange: {
                ssize_t n =
                    copy_file_range(in, &offset, out, nullptr, static_cast<size_t>(want), 0);
                if (n <= 0) {
                    return Fail("copy_file_range");
                }
                done += n;
                break;
            }
            case Kind::Splice: {
                // One fill into the empty pipe, which never waits for room, then drain it.
                ssize_t held =
                    splice(in, &offset, pipeEnds[1], nullptr, static_cast<size_t>(want), 0);
                if (held <= 0) {
                    return Fail("splice in");
                }
                while (held > 0) {
                    ssize_t n =
                        splice(pipeEnds[0], nullptr, out, nullptr, static_cast<size_t>(held), 0);
                    if (n <= 0) {
                        return Fail("splice out");
                    }
                    held -= n;
                    done += n;
                }
                break;
            }
            case Kind::ReadWrite: {
                ssize_t n = pread(in, buffer, static_cast<size_t>(want), offset);
                if (n <= 0 || write(out, buffer, static_cast<size_t>(n)) != n) {
                    return Fail("pread/write");
                }
                done += n;
                break;
            }
        }
    }
    return true;
}

bool CopyFile(const Method& m, const char* source, const char* target, int64_t skip, char* buffer) {
    int in = open(source, O_RDONLY | O_CLOEXEC);
    int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (in < 0 || out < 0) {
        return Fail("open");
    }
    int pipeEnds[2] = {-1, -1};
    if (m.kind == Kind::Splice) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0 || fcntl(pipeEnds[1], F_SETPIPE_SZ, m.pipeSize) < 0) {
            return Fail("pipe");
        }
    }
    struct stat info;
    fstat(in, &info);
    const int64_t size = info.st_size;
    if (m.preallocate && fallocate(out, FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
        return Fail("fallocate");
    }
    bool ok = true;
    for (int64_t at = 0; ok && at < size; at += kPiece) {
        int64_t piece = std::min(kPiece, size - at);
        // The last piece ends with the bytes that the skip opens, as silence.
        int64_t copy = at + piece == size ? piece - skip : piece;
        ok = CopySpan(m, in, out, pipeEnds, at + skip, at, copy, buffer);
        if (ok && copy < piece) {
            static const char zeros[65536] = {};
            ok = write(out, zeros, static_cast<size_t>(piece - copy)) == piece - copy;
        }
    }
    if (pipeEnds[0] >= 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
    }
    close(in);
    return close(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        fputs(kUsage, stderr);
        return 2;
    }
    const int rounds = argc > 3 ? atoi(argv[3]) : 5;
    const int64_t skip = argc > 4 ? atoll(argv[4]) : 0;
    static char buffer[256 * 2352];
    std::vector<double> times[kMethodCount];
    std::vector<double> cpu[kMethodCount];
    bool chosen[kMethodCount];
    const char* only = getenv("COPY_METHODS");
    for (int i = 0; i < kMethodCount; ++i) {
        std::string number = std::to_string(i + 1);
        chosen[i] = only == nullptr ||
                    ("," + std::string(only) + ",").find("," + number + ",") != std::string::npos;
    }
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < kMethodCount; ++i) {
            // Rotate the order so that no method always runs right after the same one.
            const int index = (i + r) % kMethodCount;
            if (!chosen[index]) {
                continue;
            }
            const Method& m = kMethods[index];
            sync();
            double start = Now();
            double startCpu = ProcessorTime();
            bool ok = CopyFile(m, argv[1], argv[2], skip, buffer);
            double seconds = Now() - start;
            cpu[index].push_back(ProcessorTime() - startCpu);
            unlink(argv[2]);
            if (!ok) {
                fprintf(stderr, "%s failed\n", m.name);
                return 1;
            }
            times[index].push_back(seconds);
        }
    }
    printf("   %-40s %9s %9s %9s\n", "method", "median s", "min s", "cpu s");
    for (int i = 0; i < kMethodCount; ++i) {
        if (times[i].empty()) {
            continue;
        }
        std::sort(times[i].begin(), times[i].end());
        std::sort(cpu[i].begin(), cpu[i].end());
        printf("%d. %-40s %9.4f %9.4f %9.4f\n", i + 1, kMethods[i].name,
               times[i][times[i].size() / 2], times[i][0], cpu[i][cpu[i].size() / 2]);
    }
    return 0;
}
