// What the command line needs of the console it runs in.
#pragma once

#include <stdio.h>

// True when `stream` goes to a terminal that can show a progress line.
bool IsTerminal(FILE* stream);

// Calls `onCancel` (from a signal handler: it may only set a flag) on Ctrl-C and on a request to
// terminate, and keeps a file-size limit from killing the process so that a failed write can
// be undone.
void InstallCancelHandler(void (*onCancel)());
