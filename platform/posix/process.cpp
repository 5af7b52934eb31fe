// Natively the editor is started with fork and exec and waited for with waitpid; a pipe closed on
// exec tells a failed start (its errno) from a program that ran and failed.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "platform/process.h"

namespace kolvy::platform {

namespace {

Err fromErrno(int e) {
    if (e == ENOENT || e == ENOTDIR) return Err::NotFound;
    if (e == EACCES || e == EPERM) return Err::Access;
    return Err::Io;
}

std::string unquoted(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return std::string(s);
}

}  // namespace

Result<int> runAndWait(std::string_view program, std::string_view argument) {
    const std::string name = unquoted(program);
    if (name.empty()) return Err::NotFound;
    // A bare name is searched in PATH; anything with a separator is a path of the program folder.
    const bool bare = name.find('\\') == std::string::npos && name.find('/') == std::string::npos;
    auto exe = bare ? std::optional<std::string>(name) : posix::nativePath(name);
    auto arg = posix::nativePath(argument);
    if (!exe || !arg) return Err::Invalid;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return Err::Io;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return Err::Io;
    }
    if (pid == 0) {
        close(fds[0]);
        char* argv[] = {exe->data(), arg->data(), nullptr};
        execvp(argv[0], argv);
        const int e = errno;
        (void)!write(fds[1], &e, sizeof e);
        _exit(127);
    }
    close(fds[1]);
    int execError = 0;
    const ssize_t got = read(fds[0], &execError, sizeof execError);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof execError)) return fromErrno(execError);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string defaultEditor() {
    for (const char* key : {"VISUAL", "EDITOR"}) {
        const char* v = std::getenv(key);
        if (v && *v) return v;
    }
    return {};
}

}  // namespace kolvy::platform
