// Which code page the names handed to the core are in, on Windows: the ANSI code page, as the
// window gets them from Explorer, unless the host asks for UTF-8, as the command line does (it
// reads its arguments as wide characters). The file layer opens every name by its wide form.
#pragma once

void UseUtf8Names();
unsigned NameCodePage();

// A name in that code page as wide characters, and back, within `capacity` units (NUL included);
// false, with the system's code in `*error`, when it does not convert or does not fit.
bool WideName(const char* name, wchar_t* wide, int capacity, int* error);
bool NarrowName(const wchar_t* wide, char* name, int capacity, int* error);

// The file attributes of the name, as GetFileAttributesW gives them; INVALID_FILE_ATTRIBUTES
// when it is not there or does not convert.
unsigned long NameAttributes(const char* name);
