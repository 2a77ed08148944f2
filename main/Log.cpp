#include "Log.h"
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

namespace Log {

namespace {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir;
    return "/";
}

std::string stateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return state;
    return homeDirectory() + "/.local/state";
}

constexpr off_t rotateAt = 10 << 20;

// Private to the user; a link planted at the log's path is never followed.
int openLog(const std::string& file) {
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Appends one line. The file is created when missing and never truncated: O_APPEND keeps
// lines of other writers (the installer script) intact too. A file past the limit becomes
// nolar.log.1, replacing the one before, and a new file is begun.
void appendLine(const std::string& file, const std::string& line) {
    int fd = openLog(file);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size >= rotateAt) {
        ::close(fd);
        ::rename(file.c_str(), (file + ".1").c_str());
        fd = openLog(file);
        if (fd < 0) return;
    }
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

// Creates a folder and any missing parents as 0700.
void makeFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    if (std::filesystem::exists(folder, ec)) return;
    if (folder.has_parent_path() && folder.parent_path() != folder) makeFolders(folder.parent_path());
    ::mkdir(folder.c_str(), 0700);
}

// The log's own folder is 0700 even when an earlier version made it readable to others.
void makePrivateFolder(const std::filesystem::path& folder) {
    makeFolders(folder);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077))
        ::chmod(folder.c_str(), 0700);
}

// One writer thread with a FIFO queue: write() only formats and enqueues.
class Writer {
public:
    Writer() : file(Log::path()), thread([this] { loop(); }) {}
    ~Writer() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    void enqueue(std::string line) {
        {
            std::lock_guard lock(mutex);
            lines.push_back(std::move(line));
        }
        wake.notify_all();
    }
    void flush() {
        std::unique_lock lock(mutex);
        drained.wait(lock, [this] { return lines.empty() && !writing; });
    }

private:
    void loop() {
        makePrivateFolder(std::filesystem::path(file).parent_path());
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !lines.empty(); });
            if (lines.empty() && stopping) return;
            std::string line = std::move(lines.front());
            lines.pop_front();
            writing = true;
            lock.unlock();
            appendLine(file, line);
            lock.lock();
            writing = false;
            if (lines.empty()) drained.notify_all();
        }
    }

    std::string file;
    std::mutex mutex;
    std::condition_variable wake, drained;
    std::deque<std::string> lines;
    bool writing = false;
    bool stopping = false;
    std::thread thread;
};

Writer& writer() {
    static Writer instance;
    return instance;
}

} // namespace

std::string path() { return stateDirectory() + "/Nolar/nolar.log"; }

std::string formatLine(long long unixSeconds, const std::string& message) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(stamp) + " " + message + "\n";
}

void write(const std::string& message) {
    try {
        writer().enqueue(formatLine(static_cast<long long>(std::time(nullptr)), message));
    } catch (...) {
        // The log never fails towards its caller.
    }
}

void flush() { writer().flush(); }

} // namespace Log
