#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "console.h"
#include "names_win.h"

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
    wchar_t* name = _wtempnam(nullptr, L"kestran");
    if (name == nullptr) {
        return nullptr;
    }
    FILE* capture = _wfopen(name, L"w+bTD");
    free(name);
    return capture;
}

// The C runtime's reading of the wide command line (msvcrt.dll): it expands the wildcards of
// unquoted arguments (*.ccd) as command prompt users expect, which the shell does elsewhere.
struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment,
                                      int expandWildcards, StartupInfo* startup);

static UINT savedOutputCodePage = 0;

static void RestoreOutputCodePage() {
    SetConsoleOutputCP(savedOutputCodePage);
}

char** Utf8Arguments(int* argc, char** argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo startup = {0};
    if (__wgetmainargs(&count, &wide, &environment, 1, &startup) < 0 || wide == nullptr) {
        return argv;
    }
    for (int i = 0; i < count; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(size > 0 ? size : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &text[0], size, nullptr, nullptr);
        texts.push_back(text.c_str());
    }
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    *argc = count;
    UseUtf8Names();
    // The console the command runs in gets its code page back when the command ends.
    savedOutputCodePage = GetConsoleOutputCP();
    if (savedOutputCodePage != 0 && savedOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        atexit(RestoreOutputCodePage);
    }
    return pointers.data();
}
