#include "PosixProcesses.h"
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

namespace platform::gtk {

namespace {

// Only async-signal-safe calls from here on: the parent has other threads.
[[noreturn]] void runGrandchild(const char* path, char* const* argv, int reportFd, int descriptorLimit) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    // Keep the toolkit's sockets and files out of the new process; the report pipe closes on exec.
    closeOnExecFrom(3, descriptorLimit);
    execv(path, argv);
    int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
}

[[noreturn]] void runChild(const char* path, char* const* argv, int reportFd, int descriptorLimit) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) runGrandchild(path, argv, reportFd, descriptorLimit);
    if (grandchild < 0) {
        int error = errno;
        (void)!write(reportFd, &error, sizeof error);
    }
    _exit(0);
}

} // namespace

// Async-signal-safe: runs between fork and exec.
void closeOnExecFrom(int first, int limit, bool tryCloseRange) {
    if (tryCloseRange && syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    // Kernels before 5.11 lack the flag (older ones the call): mark each descriptor instead.
    for (int fd = first; fd < limit; ++fd) {
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

long PosixProcesses::pid() const { return static_cast<long>(::getpid()); }

bool PosixProcesses::spawnDetached(const std::string& executable, const std::vector<std::string>& args) {
    std::vector<std::string> words{executable};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    // Read before forking: only async-signal-safe calls are made in the child.
    rlimit files{};
    int limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 1U << 20 ? static_cast<int>(files.rlim_cur)
                                                                                      : 1 << 20;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        runChild(executable.c_str(), argv.data(), report[1], limit);
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
