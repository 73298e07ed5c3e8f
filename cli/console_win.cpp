#include <io.h>
#include <windows.h>

#include "console.h"

static void (*cancelCallback)() = nullptr;

static BOOL WINAPI OnConsoleEvent(DWORD) {
    if (cancelCallback != nullptr) {
        cancelCallback();
    }
    return TRUE;
}

bool IsTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void InstallCancelHandler(void (*onCancel)()) {
    cancelCallback = onCancel;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
