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

bool WideName(const char* name, wchar_t* wide, int capacity, int* error) {
    if (MultiByteToWideChar(nameCodePage, 0, name, -1, wide, capacity) == 0) {
        *error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

bool NarrowName(const wchar_t* wide, char* name, int capacity, int* error) {
    if (WideCharToMultiByte(nameCodePage, 0, wide, -1, name, capacity, NULL, NULL) == 0) {
        *error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

unsigned long NameAttributes(const char* name) {
    wchar_t wide[PATH_BUFFER_SIZE];
    int error = 0;
    return WideName(name, wide, PATH_BUFFER_SIZE, &error) ? GetFileAttributesW(wide)
                                                          : INVALID_FILE_ATTRIBUTES;
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
