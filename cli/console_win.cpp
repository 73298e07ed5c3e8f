#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include "console.h"

static void (*cancelCallback)(int) = nullptr;

// The statuses a POSIX shell gives for the matching signals: SIGINT, SIGHUP, SIGTERM.
static BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (cancelCallback != nullptr) {
        int status = 128 + 15;
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
            status = 128 + 2;
        } else if (event == CTRL_CLOSE_EVENT) {
            status = 128 + 1;
        }
        cancelCallback(status);
    }
    return TRUE;
}

bool IsTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int TerminalWidth(FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!GetConsoleScreenBufferInfo(handle, &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void InstallCancelHandler(void (*onCancel)(int)) {
    cancelCallback = onCancel;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

FILE* OpenNullOutput() {
    return fopen("NUL", "w");
}

// tmpfile() of the old C runtime writes to the root of the drive, where users may not write.
FILE* OpenCapture() {
    char* name = _tempnam(nullptr, "kestran");
    if (name == nullptr) {
        return nullptr;
    }
    FILE* capture = fopen(name, "w+bTD");
    free(name);
    return capture;
}
