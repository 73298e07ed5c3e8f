#include "main_dialog.h"

#include <shellapi.h>

#include "resource.h"
#include "shift_job.h"

HINSTANCE AppInstance = NULL;
char SavedTitle[TEXT_BUFFER_SIZE];
int32_t BusyFlag = 0;

namespace {

// A job is running (BusyFlag alone cannot tell: a cancel clears it while the job still runs).
bool JobRunning = false;
// The window was destroyed: no further job starts.
bool WindowGone = false;
// The pump met the quit message and put it back for the main loop.
bool QuitPending = false;

// No further job starts once the window is gone or the quit message has come.
bool Stopping() {
    return WindowGone || QuitPending;
}

HDROP PendingDrops[PENDING_DROP_LIMIT];
int32_t PendingDropCount = 0;

void RefusePendingDrops() {
    for (int32_t i = 0; i < PendingDropCount; ++i) {
        DragFinish(PendingDrops[i]);
    }
    PendingDropCount = 0;
}

HDROP TakePendingDrop() {
    HDROP drop = PendingDrops[0];
    for (int32_t i = 1; i < PendingDropCount; ++i) {
        PendingDrops[i - 1] = PendingDrops[i];
    }
    --PendingDropCount;
    return drop;
}

void RunDroppedFiles(HWND window, HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    for (UINT index = 0; index < count && !Stopping(); ++index) {
        char name[PATH_BUFFER_SIZE];
        if (DragQueryFileA(drop, index, name, PATH_BUFFER_SIZE) == 0) {
            name[0] = '\0';
        }
        RunJob(window, name);
    }
    DragFinish(drop);
}

void OnDropFiles(HWND window, HDROP drop) {
    if (JobRunning) {
        if (PendingDropCount < PENDING_DROP_LIMIT) {
            PendingDrops[PendingDropCount++] = drop;
        } else {
            DragFinish(drop);
        }
        return;
    }
    RunDroppedFiles(window, drop);
    while (PendingDropCount > 0 && !Stopping()) {
        RunDroppedFiles(window, TakePendingDrop());
    }
    RefusePendingDrops();
}

void OnInitDialog(HWND window) {
    JobRunning = false;
    WindowGone = false;
    QuitPending = false;
    PendingDropCount = 0;

    GetWindowTextA(window, SavedTitle, TEXT_BUFFER_SIZE);
    SendMessageA(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(AppInstance, "ICON")));
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    DragAcceptFiles(window, TRUE);
    SetDlgItemTextA(window, IDC_OFFSET, "-30");
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(window);
            break;
        case WM_DROPFILES:
            OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
            break;
        case WM_CLOSE:
            if (BusyFlag != 0) {
                BusyFlag = 0;
            } else {
                DestroyWindow(window);
            }
            break;
        case WM_DESTROY:
            // A job still running stops at its next progress point, as on a cancel.
            WindowGone = true;
            BusyFlag = 0;
            RefusePendingDrops();
            PostQuitMessage(0);
            break;
        default:
            break;
    }
    return 0;
}

void RunJob(HWND window, const char* path) {
    BusyFlag = 1;
    JobRunning = true;
    Win32JobHost host(window);
    RunShiftJob(host, path);
    SetWindowTextA(window, SavedTitle);
    JobRunning = false;
    BusyFlag = 0;
}

void PumpMessages(int32_t limit) {
    MSG message;
    while (!QuitPending) {
        if (!PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE)) {
            return;
        }
        BOOL got = GetMessageA(&message, NULL, 0, 0);
        if (got == 0) {
            // The quit message ends the main loop, not a job: put it back for that loop.
            QuitPending = true;
            BusyFlag = 0;
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (got < 0) {
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (--limit <= 0) {
            return;
        }
    }
}

void Win32JobHost::ReadOffsetText(char* buffer) {
    GetDlgItemTextA(window_, IDC_OFFSET, buffer, TEXT_BUFFER_SIZE);
}

void Win32JobHost::ShowProgress(int32_t count) {
    char text[16];
    wsprintfA(text, "%d", count);
    SetWindowTextA(window_, text);
}

// The host's PumpMessages and BusyFlag share their names with the globals: `::` names those.
void Win32JobHost::PumpMessages(int32_t limit) {
    ::PumpMessages(limit);
}

int32_t Win32JobHost::BusyFlag() {
    return ::BusyFlag;
}
