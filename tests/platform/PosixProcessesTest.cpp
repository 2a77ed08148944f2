#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <thread>
#include "TempDir.h"
#include "platform/gtk/PosixProcesses.h"

namespace {

// Waits for another process to write the file; bounded, and no time is asserted.
std::string awaitFile(const std::string& path) {
    for (int i = 0; i < 500 && readFile(path).find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return readFile(path);
}

TEST(PosixProcesses, StartsADetachedProcessInItsOwnSessionThatIsNotOurChild) {
    TempDir t;
    platform::gtk::PosixProcesses processes;
    EXPECT_EQ(processes.pid(), static_cast<long>(::getpid()));
    ASSERT_TRUE(processes.spawnDetached("/bin/sh", {"-c", "echo \"$(ps -o sid= -p $$) $PPID $1\" > \"$0.tmp\"; "
                                                          "mv \"$0.tmp\" \"$0\"",
                                                    t / "out", "an argument"}));
    std::istringstream fields(awaitFile(t / "out"));
    long sid = 0, parent = 0;
    std::string arg1, arg2;
    fields >> sid >> parent >> arg1 >> arg2;
    EXPECT_NE(sid, static_cast<long>(::getsid(0)));
    EXPECT_NE(parent, static_cast<long>(::getpid()));
    EXPECT_EQ(arg1 + " " + arg2, "an argument");
    // Nothing is left for us to reap.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(PosixProcesses, ReportsAnExecutableThatCannotStart) {
    TempDir t;
    platform::gtk::PosixProcesses processes;
    EXPECT_FALSE(processes.spawnDetached(t / "missing", {}));
    writeFile(t / "not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(processes.spawnDetached(t / "not-executable", {}));
}

} // namespace
