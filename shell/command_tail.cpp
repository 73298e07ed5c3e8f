#include "command_tail.h"

#include "text.h"

static bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char* CommandTail(char* commandLine) {
    char* p = commandLine;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && !IsBlank(*p)) {
            ++p;
        }
    }
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

char* TakeCommandPath(char* tail) {
    if (*tail != '"') {
        return tail;
    }
    char* path = tail + 1;
    char* p = path;
    while (*p != '\0' && *p != '"') {
        p = const_cast<char*>(NextCharacter(p));
    }
    *p = '\0';
    return path;
}
