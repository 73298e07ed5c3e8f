// Byte-string helpers of the core. Paths are NUL-terminated byte strings: as the system gives
// them on POSIX, in the code page that names_win.h sets on Windows.
#pragma once

#include <stdint.h>

// Paths and text lines live in buffers of this size, NUL included.
constexpr int32_t PATH_BUFFER_SIZE = 1024;
constexpr int32_t TEXT_BUFFER_SIZE = 1024;
constexpr int32_t MAX_PATH_LENGTH = PATH_BUFFER_SIZE - 1;

// Copies `source` up to and including its NUL; returns the position of the copied NUL.
char* CopyString(char* destination, const char* source);

// Returns where the extension of `path` begins (its last dot, provided no directory separator
// follows it), or the position of the terminating NUL when there is none.
char* FindExtension(char* path);
const char* FindExtension(const char* path);

// Compares two strings with a-z folded to upper case; every other byte compares unchanged.
// Returns 0 when they are equal.
int CompareNoCase(const char* a, const char* b);

// Converts decimal text the way atol does: optional white space, optional sign, digits, stop at
// the first other byte, 0 without digits. Returns false when the number does not fit 32 bits;
// `value` then holds INT32_MAX or INT32_MIN.
bool ParseDecimal(const char* text, int32_t* value);

// The value of a hexadecimal digit (either case), or 16 for any other byte.
int32_t HexDigitValue(char c);

// Length of `text`, or `limit` when no NUL comes within its first `limit` bytes.
int32_t BoundedLength(const char* text, int32_t limit);

// Steps one character: keeps the bytes of a double-byte character of the ANSI code page
// together where the platform has one.
const char* NextCharacter(const char* text);

// True for the bytes that separate directories on this platform.
bool IsDirectorySeparator(char c);

// True where file names are case-sensitive: there, names derived from a control file whose
// extension is written in capitals (".CCD") are written in capitals too (".IMG", ".OLD").
bool DerivedNamesFollowCapitals();
