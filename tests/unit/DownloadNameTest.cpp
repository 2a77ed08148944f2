#include <gtest/gtest.h>
#include <set>
#include "DownloadName.h"

namespace {
std::string unique(std::set<std::string>& existing, const std::string& name) {
    auto taken = [&](const std::string& p) { return existing.count(p) > 0; };
    return *existing.insert(DownloadName::uniqueURL("/d", name, taken)).first;
}
} // namespace

TEST(DownloadName, NumbersBeforeTheLastExtension) {
    std::set<std::string> existing{"/d/archive.tar.gz"};
    std::pair<const char*, const char*> steps[] = {
        {"report.pdf", "report.pdf"}, {"report.pdf", "report (2).pdf"}, {"report.pdf", "report (3).pdf"},
        {"archive.tar.gz", "archive.tar (2).gz"}, {"name", "name"}, {"name", "name (2)"}, {"", "file"},
        {"", "file (2)"},
    };
    for (auto [name, saved] : steps) EXPECT_EQ(unique(existing, name), "/d/" + std::string(saved));
}

TEST(DownloadName, NeverLeavesTheFolderNorNamesADirectory) {
    struct Row { std::string suggested, saved; } rows[] = {
        {" ..." + std::string(300, ' ') + "x", "file"}, {"evil.desktop...", "evil.desktop.download"},
        {"evil.desktop", "evil.desktop.download"}, {"EVIL.Desktop", "EVIL.Desktop.download"}, {"...", "file"},
        {"../../etc/passwd", "_._.._etc_passwd"}, {"tab\there\n.txt", "tab_here_.txt"}, {" . ", "file"},
        {std::string("nul\0x", 5), "nul_x"}, {"report.pdf. . ", "report.pdf"}, {"--help.txt", "_-help.txt"},
        {"Отчёт.pdf", "Отчёт.pdf"}, {".bashrc", "_bashrc"}, {"a/b.txt", "a_b.txt"}, {"desktop", "desktop"},
        {"-rf", "_rf"}, {"..", "file"}, {".", "file"},
    };
    for (auto& r : rows) EXPECT_EQ(DownloadName::clean(r.suggested), r.saved) << r.suggested;
}

TEST(DownloadName, LongNamesAreCutOnACharacterBoundaryKeepingTheExtension) {
    std::string base;
    for (int i = 0; i < 200; ++i) base += "я"; // 400 bytes
    std::string cleaned = DownloadName::clean(base + ".pdf");
    EXPECT_LE(cleaned.size(), 255u);
    EXPECT_EQ(cleaned.substr(cleaned.size() - 4), ".pdf");
    EXPECT_EQ((cleaned.size() - 4) % 2, 0u) << "a two-byte letter was split";

    std::set<std::string> existing{"/d/" + cleaned};
    std::string second = unique(existing, base + ".pdf").substr(3);
    EXPECT_LE(second.size(), 255u);
    EXPECT_NE(second.find(" (2).pdf"), std::string::npos);
}
