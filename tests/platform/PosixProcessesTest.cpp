#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <thread>
#include "TempDir.h"
#include "platform/gtk/PosixProcesses.h"

namespace {

// Waits (bounded) for the started process to write a line; no time is asserted.
std::string awaitLine(const std::string& path)
{
    for (int i = 0; i < 500 && readFile(path).find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return readFile(path);
}

TEST(PosixProcesses, StartsADetachedProcessInItsOwnSessionThatIsNotOurChildOrSaysItCannot)
{
    TempDir t;
    platform::gtk::PosixProcesses processes;
    EXPECT_EQ(processes.pid(), static_cast<long>(::getpid()));
    const char* script = "echo \"$(ps -o sid= -p $$) $PPID $1\" > \"$0.tmp\"; mv \"$0.tmp\" \"$0\"";
    ASSERT_TRUE(processes.spawnDetached("/bin/sh", {"-c", script, t / "out", "an argument"}));
    std::istringstream fields(awaitLine(t / "out"));
    long sid = 0, parent = 0;
    std::string arg1, arg2;
    fields >> sid >> parent >> arg1 >> arg2;
    EXPECT_NE(sid, static_cast<long>(::getsid(0)));
    EXPECT_NE(parent, static_cast<long>(::getpid()));
    EXPECT_EQ(arg1 + " " + arg2, "an argument");
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "nothing is left for us to reap";
    EXPECT_EQ(errno, ECHILD);
    writeFile(t / "not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(processes.spawnDetached(t / "not-executable", {}));
    EXPECT_FALSE(processes.spawnDetached(t / "missing", {}));
}

TEST(PosixProcesses, TheStartedProcessInheritsNoDescriptor)
{
    TempDir t;
    int leak[2];
    ASSERT_EQ(::pipe(leak), 0);   // deliberately without close-on-exec
    const char* script = "{ [ -e /proc/$$/fd/$1 ] && echo open || echo closed; } > \"$0\"";
    ASSERT_TRUE(platform::gtk::PosixProcesses().spawnDetached("/bin/sh", {"-c", script, t / "out",
                                                                           std::to_string(leak[1])}));
    EXPECT_EQ(awaitLine(t / "out"), "closed\n");
    // Where close_range cannot mark them, each descriptor is marked on its own.
    ASSERT_EQ(::fcntl(leak[0], F_GETFD) & FD_CLOEXEC, 0);
    platform::gtk::closeOnExecFrom(leak[0], leak[0] + 1, false);
    EXPECT_NE(::fcntl(leak[0], F_GETFD) & FD_CLOEXEC, 0);
    ::close(leak[0]);
    ::close(leak[1]);
}

} // namespace
