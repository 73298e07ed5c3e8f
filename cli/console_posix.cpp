#include <signal.h>
#include <unistd.h>

#include "console.h"

static void (*cancelCallback)() = nullptr;

static void OnSignal(int) {
    if (cancelCallback != nullptr) {
        cancelCallback();
    }
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

void InstallCancelHandler(void (*onCancel)()) {
    cancelCallback = onCancel;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Past a file-size limit, write() then fails with EFBIG and the job puts the image back.
    signal(SIGXFSZ, SIG_IGN);
}
