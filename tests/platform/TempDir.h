#pragma once
// A disposable folder for the platform tests, and archives built in it with Python's zipfile.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/nolar-platform-test-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One archive member: a file (with its mode), a folder ("name/"), or a link to `data`.
struct ZipMember {
    std::string name;
    std::string data;
    unsigned mode = 0100644;   // st_mode as stored in the member's Unix attributes
};

inline std::string pythonLiteral(const std::string& text) {
    std::string out = "bytes([";
    for (unsigned char c : text) out += std::to_string(c) + ",";
    return out + "])";
}

// Builds the zip with /usr/bin/python3 so that hostile names reach the archive unchanged.
inline bool makeZip(const TempDir& dir, const std::string& zip, const std::vector<ZipMember>& members) {
    std::string script = "import zipfile\nz = zipfile.ZipFile(" + pythonLiteral(zip) + ".decode(), 'w', zipfile.ZIP_DEFLATED)\n";
    for (const auto& m : members) {
        script += "i = zipfile.ZipInfo(" + pythonLiteral(m.name) + ".decode())\n";
        script += "i.create_system = 3\ni.external_attr = " + std::to_string(m.mode) + " << 16\n";
        if (!m.name.empty() && m.name.back() == '/') script += "i.external_attr |= 0x10\n";
        script += "z.writestr(i, " + pythonLiteral(m.data) + ")\n";
    }
    script += "z.close()\n";
    writeFile(dir / "make-zip.py", script);
    return std::system(("/usr/bin/python3 '" + (dir / "make-zip.py") + "'").c_str()) == 0;
}
