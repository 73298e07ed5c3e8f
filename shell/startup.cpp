// The process entry: takes the command tail and the show state as the system hands them over
// and runs the window. Linked with a console-less entry that calls main (MinGW by default,
// MSVC with /ENTRY:mainCRTStartup), so the C runtime's own idea of WinMain's arguments is unused.
#include <windows.h>

#include "command_tail.h"
#include "main_dialog.h"

// The exit code when the window cannot be created: the process must not stay without one.
constexpr int EXIT_NO_WINDOW = 1;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showState) {
    BusyFlag = 0;
    AppInstance = instance;
    HWND window = CreateDialogParamA(instance, "MAIN", NULL, MainDialogProc, 0);
    if (window == NULL) {
        return EXIT_NO_WINDOW;
    }
    ShowWindow(window, showState);
    UpdateWindow(window);
    if (*commandTail != '\0') {
        RunJob(window, TakeCommandPath(commandTail));
        DestroyWindow(window);
    }
    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

static int ShowState() {
    STARTUPINFOA startup;
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
}

int main() {
    return WinMain(GetModuleHandleA(NULL), NULL, CommandTail(GetCommandLineA()), ShowState());
}
