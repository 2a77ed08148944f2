#include "PosixFiles.h"
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <filesystem>

namespace platform::gtk {

namespace {

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A copy for a move across file systems; the target is created exclusively and removed again
// when the copy fails, so nothing half-written remains.
bool copyRegularFile(const std::string& from, const std::string& to, mode_t mode) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return false;
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    static constexpr size_t blockSize = 1 << 20;
    std::vector<char> buffer(blockSize);
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!writeAll(out, buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (!ok) ::unlink(to.c_str());
    return ok;
}

bool copyTree(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy(from, to,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
                          ec);
    if (ec) std::filesystem::remove_all(to, ec);
    return !ec;
}

} // namespace

std::string PosixFiles::temporaryDirectory() const { return g_get_tmp_dir(); }

std::string PosixFiles::downloadsDirectory() const {
    // xdg-user-dirs names the home folder itself for a Downloads folder the user deleted: saving
    // there would put a page's files (".profile", "-rf") beside the user's own.
    std::string home = g_get_home_dir();
    const char* special = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    auto canonical = [](const std::string& path) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        std::string result = resolved ? resolved : path;
        std::free(resolved);
        while (result.size() > 1 && result.back() == '/') result.pop_back();
        return result;
    };
    std::string dir = special && canonical(special) != canonical(home) ? std::string(special) : home + "/Downloads";
    g_mkdir_with_parents(dir.c_str(), 0755);
    return dir;
}

// A dangling link counts as existing: something stands at that name.
bool PosixFiles::exists(const std::string& path) const {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool PosixFiles::isWritable(const std::string& path) const { return ::access(path.c_str(), W_OK) == 0; }

bool PosixFiles::isFolder(const std::string& path) const {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFiles::createPrivateDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }

bool PosixFiles::move(const std::string& from, const std::string& to) {
    // Never replace what stands at the target.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS) {
        if (exists(to)) return false;
        if (::rename(from.c_str(), to.c_str()) == 0) return true;
    }
    if (errno != EXDEV || exists(to)) return false;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    bool copied = S_ISREG(st.st_mode) ? copyRegularFile(from, to, st.st_mode)
                  : S_ISDIR(st.st_mode) ? copyTree(from, to)
                                        : false;
    if (!copied) return false;
    std::error_code ec;
    std::filesystem::remove_all(from, ec);
    return true;
}

std::optional<std::vector<std::string>> PosixFiles::list(const std::string& dir) const {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(d)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(d);
    return names;
}

bool PosixFiles::writeNewPrivateFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text.data(), text.size());
    if (::close(fd) != 0) ok = false;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

} // namespace platform::gtk
