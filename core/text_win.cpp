#include <windows.h>

#include "text.h"

const char* NextCharacter(const char* text) {
    return CharNextA(text);
}

bool IsDirectorySeparator(char c) {
    return c == '\\';
}
