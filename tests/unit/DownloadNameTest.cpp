#include <gtest/gtest.h>
#include <set>
#include "DownloadName.h"

namespace {
std::string unique(std::set<std::string>& existing, const std::string& name) {
    auto path = DownloadName::uniqueURL("/d", name, [&](const std::string& p) { return existing.count(p) > 0; });
    existing.insert(path);
    return path;
}
} // namespace

TEST(DownloadName, NumbersBeforeTheLastExtension) {
    std::set<std::string> existing;
    EXPECT_EQ(unique(existing, "report.pdf"), "/d/report.pdf");
    EXPECT_EQ(unique(existing, "report.pdf"), "/d/report (2).pdf");
    EXPECT_EQ(unique(existing, "report.pdf"), "/d/report (3).pdf");
    existing.insert("/d/archive.tar.gz");
    EXPECT_EQ(unique(existing, "archive.tar.gz"), "/d/archive.tar (2).gz");
    EXPECT_EQ(unique(existing, "name"), "/d/name");
    EXPECT_EQ(unique(existing, "name"), "/d/name (2)");
    EXPECT_EQ(unique(existing, ""), "/d/file");
    EXPECT_EQ(unique(existing, ""), "/d/file (2)");
}

TEST(DownloadName, NeverLeavesTheFolderNorNamesADirectory) {
    struct Row { std::string suggested, saved; } rows[] = {
        {"../../etc/passwd", "_._.._etc_passwd"},
        {".bashrc", "_bashrc"},
        {"-rf", "_rf"},
        {"--help.txt", "_-help.txt"},
        {"report.pdf. . ", "report.pdf"},
        {"...", "file"},
        {" . ", "file"},
        {"evil.desktop...", "evil.desktop.download"},
        {" ..." + std::string(300, ' ') + "x", "file"},
        {"a/b.txt", "a_b.txt"},
        {".", "file"},
        {"..", "file"},
        {"tab\there\n.txt", "tab_here_.txt"},
        {std::string("nul\0x", 5), "nul_x"},
        {"Отчёт.pdf", "Отчёт.pdf"},
        {"evil.desktop", "evil.desktop.download"},
        {"EVIL.Desktop", "EVIL.Desktop.download"},
        {"desktop", "desktop"},
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
    std::string second = unique(existing, base + ".pdf");
    std::string name = second.substr(3);
    EXPECT_LE(name.size(), 255u);
    EXPECT_NE(name.find(" (2).pdf"), std::string::npos);
}
