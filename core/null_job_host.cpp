#include "job_host.h"

void NullJobHost::ReadOffsetText(char* buffer) {
    buffer[0] = '0';
    buffer[1] = '\0';
}
