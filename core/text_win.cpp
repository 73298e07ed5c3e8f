#include <windows.h>

#include "names_win.h"
#include "text.h"

static UINT nameCodePage = CP_ACP;

void UseUtf8Names() {
    nameCodePage = CP_UTF8;
}

unsigned NameCodePage() {
    return nameCodePage;
}

// In UTF-8, '.' and '\' never occur inside a character; in a double-byte ANSI code page they may.
const char* NextCharacter(const char* text) {
    return nameCodePage == CP_UTF8 ? text + 1 : CharNextA(text);
}

bool IsDirectorySeparator(char c) {
    return c == '\\';
}

// Names do not differ by case here; the derived names keep the window's lower case.
bool DerivedNamesFollowCapitals() {
    return false;
}
