#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "console.h"

static void (*cancelCallback)(int) = nullptr;

static void OnSignal(int signalNumber) {
    if (cancelCallback != nullptr) {
        cancelCallback(128 + signalNumber);
    }
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

int TerminalWidth(FILE* stream) {
    struct winsize size = {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void InstallCancelHandler(void (*onCancel)(int)) {
    cancelCallback = onCancel;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // Past a file-size limit, write() then fails with EFBIG and the job puts the image back.
    signal(SIGXFSZ, SIG_IGN);
    // A reader gone from the output pipe makes the write fail with EPIPE, which is reported.
    signal(SIGPIPE, SIG_IGN);
}

FILE* OpenNullOutput() {
    return fopen("/dev/null", "w");
}

FILE* OpenCapture() {
    return tmpfile();
}

char** Utf8Arguments(int*, char** argv) {
    return argv;
}
