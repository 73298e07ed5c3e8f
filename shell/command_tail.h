// The command line as the program reads it: one control-file path, optionally in quotes.
#pragma once

// The command line without the program's name and the blanks and tabs after it.
char* CommandTail(char* commandLine);

// The path in a non-empty tail: after an opening quote up to the closing one (overwritten with
// NUL) or the end; otherwise the whole tail, blanks included.
char* TakeCommandPath(char* tail);
