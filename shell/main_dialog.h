// The main dialog: drops, jobs with progress in the title, cancel by closing, and the Win32 job
// host the core reaches the window through.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "job_host.h"

// Drops that arrive while a job runs wait here; further ones are refused.
constexpr int32_t PENDING_DROP_LIMIT = 8;

extern HINSTANCE AppInstance;
extern char SavedTitle[TEXT_BUFFER_SIZE];
// 1 while a job is to continue; a close request during a job clears it.
extern int32_t BusyFlag;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs one job with the busy flag set and puts the caption back afterwards.
void RunJob(HWND window, const char* path);

// Dispatches at most `limit` queued messages of this thread. A quit message is left for the
// main loop and stops all further pumping.
void PumpMessages(int32_t limit);

class Win32JobHost : public JobHost {
  public:
    explicit Win32JobHost(HWND window) : window_(window) {}

    void ReadOffsetText(char* buffer) override;
    void ShowProgress(int32_t count) override;
    void PumpMessages(int32_t limit) override;
    int32_t BusyFlag() override;

  private:
    HWND window_;
};
