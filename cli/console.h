// What the command line needs of the console it runs in.
#pragma once

#include <stdio.h>

// True when `stream` goes to a terminal that can show a progress line.
bool IsTerminal(FILE* stream);

// The width in columns of the terminal behind `stream`, or 0 when it is unknown.
int TerminalWidth(FILE* stream);

// Calls `onCancel` (from a signal handler: it may only set a flag) on Ctrl-C, on a request to
// terminate and when the terminal closes, with the exit status that tells which of them came
// (128 + the signal's number). Keeps a file-size limit from killing the process so that a failed
// write can be undone, and a closed pipe so that a failed write of the output is reported.
void InstallCancelHandler(void (*onCancel)(int exitStatus));

// A stream that takes whatever is written and keeps nothing.
FILE* OpenNullOutput();

// A temporary file, read and written, removed when closed; nullptr when none can be made.
FILE* OpenCapture();

// The arguments in UTF-8, the names the file layer then opens, and the console set to show
// UTF-8: on Windows read from the wide command line, wildcards expanded; elsewhere `argv` as the
// system (and the shell) gives it.
char** Utf8Arguments(int* argc, char** argv);
