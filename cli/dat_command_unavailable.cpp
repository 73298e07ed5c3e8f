// Builds without the verify library (the Windows one) have no DAT commands.
#include <stdio.h>
#include <string.h>

#include "dat_command.h"

bool IsDatCommand(int argc, char** argv) {
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strncmp(argv[i], "--dat", 5) == 0 || strcmp(argv[i], "--hash") == 0) {
            return true;
        }
    }
    return false;
}

int RunDatCommand(int, char**, JobRunner&) {
    fprintf(stderr, "kestran: --dat and --hash are not part of this build\n");
    return 2;
}
