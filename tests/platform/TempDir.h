#pragma once
// A disposable folder for the platform tests, files in it, and zips that Python's zipfile builds.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct TempDir {
    explicit TempDir(const std::string& in = "/tmp") : path(::mkdtemp((in + "/nolar-test-XXXXXX").data())) {}
    std::string path;
    std::error_code ignored;
    ~TempDir() { fs::remove_all(path, ignored); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One archive member: a file (with its mode as st_mode), a folder ("name/"), or a link to `data`.
struct ZipMember {
    std::string name, data;
    unsigned mode = 0100644;
};

// Python writes the members unchanged, hostile names too; `more` is Python run on the open ZipFile z.
inline bool makeZip(const TempDir& dir, const std::string& zip, const std::vector<ZipMember>& members,
                    const std::string& more = "")
{
    auto bytes = [](const std::string& text) {
        std::string out = "bytes([";
        for (unsigned char c : text)
            out += std::to_string(c) + ",";
        return out + "])";
    };
    std::string script = "import zipfile\n"
                         "def add(name, data, mode):\n"
                         "    i = zipfile.ZipInfo(name.decode())\n"
                         "    i.create_system = 3\n"
                         "    i.external_attr = mode << 16 | (0x10 if i.is_dir() else 0)\n"
                         "    z.writestr(i, data)\n"
                         "z = zipfile.ZipFile(" + bytes(zip) + ".decode(), 'w', zipfile.ZIP_DEFLATED)\n";
    for (const auto& m : members)
        script += "add(" + bytes(m.name) + ", " + bytes(m.data) + ", " + std::to_string(m.mode) + ")\n";
    const std::string file = dir / "make-zip.py";
    writeFile(file, script + more + "z.close()\n");
    return std::system(("/usr/bin/python3 '" + file + "'").c_str()) == 0;
}
