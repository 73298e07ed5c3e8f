#include <windows.h>

#include "text.h"

const char* NextCharacter(const char* text) {
    return CharNextA(text);
}

bool IsDirectorySeparator(char c) {
    return c == '\\';
}

// Names do not differ by case here; the derived names keep the window's lower case.
bool DerivedNamesFollowCapitals() {
    return false;
}
