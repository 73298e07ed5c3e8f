#include "control_scan.h"

#include "file.h"
#include "text.h"

int32_t ReadControlLine(File& file, char* buffer) {
    int32_t bytesRead = file.Read(buffer, TEXT_BUFFER_SIZE - 1);
    if (bytesRead < 0) {
        bytesRead = 0;
    }
    buffer[bytesRead] = '\0';

    int32_t consumed = 0;
    while (buffer[consumed] != '\n' && buffer[consumed] != '\r' && buffer[consumed] != '\0') {
        ++consumed;
    }
    if (buffer[consumed] == '\n') {
        buffer[consumed++] = '\0';
    } else if (buffer[consumed] == '\r') {
        buffer[consumed++] = '\0';
        if (buffer[consumed] == '\n') {
            ++consumed;
        }
    }
    if (consumed != bytesRead) {
        file.SeekRelative(consumed - bytesRead);
    }
    return consumed;
}

static bool IsTokenByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int32_t SplitTokens(char* line, char** table) {
    int32_t count = 0;
    bool inToken = false;
    for (char* p = line; *p != '\0'; ++p) {
        if (IsTokenByte(*p)) {
            if (!inToken && count < TOKEN_TABLE_SIZE) {
                table[count++] = p;
            }
            inToken = true;
        } else {
            if (inToken) {
                *p = '\0';
            }
            inToken = false;
        }
    }
    return count;
}

// A value that does not fit 32 bits lies beyond any image: it reads as END_SENTINEL.
static int32_t SectorValue(const char* token) {
    int32_t value = 0;
    ParseDecimal(token, &value);
    return value;
}

int32_t ScanControlFile(File& file, char* buffer, BoundaryList& list) {
    char* token[TOKEN_TABLE_SIZE];
    int32_t mode = -1;
    int32_t count = 0;

    while (ReadControlLine(file, buffer) != 0) {
        int32_t tokens = SplitTokens(buffer, token);
        if (tokens == 0) {
            continue;
        }
        if (mode == -1) {
            if (CompareNoCase(token[0], "TRACK") == 0) {
                mode = 0;
            }
        } else if (CompareNoCase(token[0], "MODE") == 0) {
            if (tokens >= 2) {
                ParseDecimal(token[1], &mode);
            }
        } else if (CompareNoCase(token[0], "INDEX") == 0) {
            bool opensAudio = count % 2 == 0 && mode == 0;
            bool closesAudio = count % 2 == 1 && mode != 0;
            // An audio region is opened only when there is room to close it as well.
            bool fits = opensAudio ? count + 2 <= MAX_BOUNDARIES : count < MAX_BOUNDARIES;
            if (tokens >= 3 && (opensAudio || closesAudio) && fits) {
                list[count++] = SectorValue(token[2]);
            }
        }
    }
    list[count] = END_SENTINEL;
    return count;
}
