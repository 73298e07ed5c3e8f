#include "program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::vector<char*> ArgumentVector(std::string& program, std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(&program[0]);
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Outcome RunProgram(std::string program, std::vector<std::string> args, const RunSetup& setup) {
    Outcome outcome;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return outcome;
    }
    std::vector<char*> argv = ArgumentVector(program, args);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(setup.merged ? out[1] : err[1], 2);
        close(out[0]);
        close(err[0]);
        if (setup.stdoutPath != nullptr) {
            int fd = open(setup.stdoutPath, O_WRONLY);
            dup2(fd, 1);
        }
        if (setup.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outcome.out = ReadAll(out[0]);
    outcome.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    outcome.status = ExitStatus(pid);
    return outcome;
}

pid_t StartHeldAtOutput(std::string program, std::vector<std::string> args, int* out, int* err) {
    int ends[2];
    int errors[2];
    if (pipe(ends) != 0 || pipe(errors) != 0) {
        return -1;
    }
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    while (write(ends[1], filler.data(), filler.size()) > 0) {
    }
    fcntl(ends[1], F_SETFL, 0);
    std::vector<char*> argv = ArgumentVector(program, args);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], 1);
        dup2(errors[1], 2);
        close(ends[0]);
        close(errors[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(ends[1]);
    close(errors[1]);
    *out = ends[0];
    *err = errors[0];
    return pid;
}

bool WaitUntilAsleep(pid_t pid, const std::function<bool()>& ready) {
    for (int i = 0; i < 500; ++i) {
        usleep(10000);
        int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY);
        std::string stat = fd < 0 ? "" : ReadAll(fd);
        close(fd);
        size_t state = stat.rfind(')');
        if (state != std::string::npos && stat.compare(state, 4, ") S ") == 0 && ready()) {
            return true;
        }
    }
    return false;
}

}  // namespace testing_support
