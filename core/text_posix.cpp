#include "text.h"

// Names are UTF-8 or single-byte here: '.', '/' and '\' never occur inside a character.
const char* NextCharacter(const char* text) {
    return text + 1;
}

bool IsDirectorySeparator(char c) {
    return c == '/' || c == '\\';
}

bool DerivedNamesFollowCapitals() {
    return true;
}
