#include <string.h>

#include "job_host.h"

void NullJobHost::SetOffsetText(const char* text) {
    int32_t length = BoundedLength(text, TEXT_BUFFER_SIZE - 1);
    memcpy(offsetText_, text, static_cast<size_t>(length));
    offsetText_[length] = '\0';
}

void NullJobHost::ReadOffsetText(char* buffer) {
    CopyString(buffer, offsetText_);
}
