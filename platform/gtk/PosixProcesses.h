#pragma once
#include "platform/Files.h"

namespace platform::gtk {

// This process and the detached processes it starts.
class PosixProcesses : public platform::Processes {
public:
    PosixProcesses() = default;
    long pid() const override;
    // Forks twice: the started process belongs to a new session, is adopted by init (nothing
    // here has to reap it) and keeps running after this process ends.
    bool spawnDetached(const std::string& executable, const std::vector<std::string>& args) override;
};

// Marks every descriptor from `first` on close-on-exec: with close_range when the kernel has it
// (and tryCloseRange), otherwise one by one up to `limit`, the soft limit on open files.
void closeOnExecFrom(int first, int limit, bool tryCloseRange = true);

} // namespace platform::gtk
