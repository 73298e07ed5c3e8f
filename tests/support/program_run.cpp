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

}  // namespace testing_support
