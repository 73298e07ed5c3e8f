// Builds without the verify library (the Windows one) have no DAT commands.
#include <stdio.h>

#include "dat_command.h"

int RunDatCommand(const DatCommand&, const std::vector<ListedFile>&, const RunOptions&,
                  JobRunner&) {
    fprintf(stderr,
            "kestran: --dat, --hash, --accuraterip, --checksums and --detect are not part of this "
            "build\n");
    return 2;
}
