#include "LibarchiveUnzip.h"
#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace platform::gtk {

namespace {

struct ReaderFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderFree>;
using Writer = std::unique_ptr<archive, WriterFree>;

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream stream(path);
    std::string part;
    while (std::getline(stream, part, '/'))
        if (!part.empty() && part != ".") parts.push_back(part);
    return parts;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

// The entry's path relative to the destination, or nullopt when it is absolute or climbs out.
std::optional<std::string> relativeEntryPath(const char* name) {
    if (!name || name[0] == '/') return std::nullopt;
    auto parts = components(name);
    for (const auto& p : parts)
        if (p == "..") return std::nullopt;
    return joined(parts);
}

// A link's target, taken from the folder that holds the link, must stay inside the destination.
bool linkStaysInside(const std::string& linkPath, const char* target) {
    if (!target || target[0] == '\0' || target[0] == '/') return false;
    auto where = components(linkPath);
    where.pop_back();
    for (const auto& p : components(target)) {
        if (p != "..") where.push_back(p);
        else if (where.empty()) return false;
        else where.pop_back();
    }
    return true;
}

bool isInside(const std::string& path, const std::string& root) {
    return path == root || path.rfind(root + "/", 0) == 0;
}

// What the entry becomes on disk, or nullopt when it must not be extracted.
std::optional<std::string> diskPath(archive_entry* entry, const std::string& root) {
    auto relative = relativeEntryPath(archive_entry_pathname(entry));
    if (!relative || archive_entry_hardlink(entry)) return std::nullopt;
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
        if (relative->empty()) return std::nullopt;
        break;
    case AE_IFDIR:
        break;
    case AE_IFLNK:
        if (relative->empty() || !linkStaysInside(*relative, archive_entry_symlink(entry))) return std::nullopt;
        break;
    default: // devices, FIFOs and sockets have no place in an application bundle
        return std::nullopt;
    }
    return relative->empty() ? root : root + "/" + *relative;
}

// What the archive may unpack to, and how much it has so far.
struct Budget {
    uint64_t bytesLeft;
    uint64_t entriesLeft;
    bool exceeded = false;

    bool take(uint64_t bytes, uint64_t entries) {
        if (bytes > bytesLeft || entries > entriesLeft) exceeded = true;
        else bytesLeft -= bytes, entriesLeft -= entries;
        return !exceeded;
    }
};

// Counts the bytes as they come: a zip entry's declared size need not be its real one.
bool copyData(archive* reader, archive* writer, Budget& budget) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        int r = archive_read_data_block(reader, &block, &size, &offset);
        if (r == ARCHIVE_EOF) return true;
        if (r < ARCHIVE_WARN || !budget.take(size, 0)) return false;
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) return false;
    }
}

bool extractEntries(archive* reader, archive* writer, const std::string& root, std::vector<std::string>& links,
                    Budget& budget) {
    archive_entry* entry = nullptr;
    for (;;) {
        int r = archive_read_next_header(reader, &entry);
        if (r == ARCHIVE_EOF) return true;
        if (r < ARCHIVE_WARN) return false;
        la_int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        // Refused before anything of the entry is written; the budget is only charged as data arrives.
        if (declared > 0 && static_cast<uint64_t>(declared) > budget.bytesLeft) budget.exceeded = true;
        if (!budget.take(0, 1)) return false;
        auto path = diskPath(entry, root);
        if (!path) return false;
        if (*path == root) continue; // the destination itself ("./")
        archive_entry_copy_pathname(entry, path->c_str());
        if (archive_write_header(writer, entry) < ARCHIVE_WARN) return false;
        if (archive_entry_filetype(entry) == AE_IFLNK) links.push_back(*path);
        else if (!copyData(reader, writer, budget)) return false;
        if (archive_write_finish_entry(writer) < ARCHIVE_WARN) return false;
    }
}

// A chain of links can leave the folder even when each one looks inside on its own.
bool linksResolveInside(const std::vector<std::string>& links, const std::string& root) {
    for (const auto& link : links) {
        char resolved[PATH_MAX];
        if (::realpath(link.c_str(), resolved) && !isInside(resolved, root)) return false;
    }
    return true;
}

} // namespace

bool LibarchiveUnzip::extract(const std::string& archivePath, const std::string& destination) {
    if (::mkdir(destination.c_str(), 0700) != 0) return false;
    // Entries are written by absolute path below the folder's real path, so that no link in
    // the folder's own path trips the link check. Absolute entry names are refused above, as
    // the disk writer's absolute-path check would refuse our own prefix.
    char real[PATH_MAX];
    if (!::realpath(destination.c_str(), real)) return false;
    const std::string root = real;

    Reader reader(archive_read_new());
    Writer writer(archive_write_disk_new());
    if (!reader || !writer) return false;
    archive_read_support_format_zip(reader.get());
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    struct stat archiveStat {};
    if (::stat(archivePath.c_str(), &archiveStat) != 0) return false;
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) return false;

    uint64_t archiveBytes = static_cast<uint64_t>(archiveStat.st_size);
    uint64_t ratioBytes = archiveBytes > UINT64_MAX / limits.ratio ? UINT64_MAX : archiveBytes * limits.ratio;
    Budget budget{std::min(limits.totalBytes, ratioBytes), limits.entries};
    std::vector<std::string> links;
    bool ok = extractEntries(reader.get(), writer.get(), root, links, budget);
    if (archive_write_close(writer.get()) < ARCHIVE_WARN) ok = false;
    if (budget.exceeded) {
        // A bomb's partial output is of no use to anyone and may be large.
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
        return false;
    }
    return ok && linksResolveInside(links, root);
}

} // namespace platform::gtk
