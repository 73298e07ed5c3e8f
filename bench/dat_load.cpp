// dat-load: reads a DAT file as `kestran --dat` does and prints how long it took, how many
// entries it kept and the peak resident memory, for bench/dat.sh.
#include <stdio.h>
#include <sys/resource.h>

#include <chrono>

#include "dat.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("Usage: dat-load FILE.dat\nPrints \"SECONDS ENTRIES PEAK_KIB\".\n", stderr);
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    verify::Dat dat;
    verify::DatLoad load = verify::LoadDat(argv[1], dat);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (load.status != verify::DatStatus::Loaded) {
        fprintf(stderr, "%s: not loaded\n", argv[1]);
        return 1;
    }
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%.4f %zu %ld\n", seconds, dat.entries.size(), usage.ru_maxrss);
    return 0;
}
