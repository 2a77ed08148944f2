#include "PosixProcesses.h"
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

namespace platform::gtk {

namespace {

// Only async-signal-safe calls from here on: the parent has other threads.
[[noreturn]] void runGrandchild(const char* path, char* const* argv, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    // Keep the toolkit's sockets and files out of the new process; the report pipe closes on exec.
    syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    execv(path, argv);
    int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
}

[[noreturn]] void runChild(const char* path, char* const* argv, int reportFd) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) runGrandchild(path, argv, reportFd);
    if (grandchild < 0) {
        int error = errno;
        (void)!write(reportFd, &error, sizeof error);
    }
    _exit(0);
}

} // namespace

long PosixProcesses::pid() const { return static_cast<long>(::getpid()); }

bool PosixProcesses::spawnDetached(const std::string& executable, const std::vector<std::string>& args) {
    std::vector<std::string> words{executable};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        runChild(executable.c_str(), argv.data(), report[1]);
    }
    ::close(report[1]);
    bool started = child > 0;
    if (started) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
        // End of file: the exec succeeded. An errno value: the fork or the exec failed.
        int error = 0;
        ssize_t n;
        while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {}
        started = n == 0;
    }
    ::close(report[0]);
    return started;
}

} // namespace platform::gtk
