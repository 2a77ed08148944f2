#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include "Log.h"

namespace {
// The log's folder is fixed at its first write, so point it at a private folder before any test runs.
const std::string stateDir = [] {
    char tmpl[] = "/tmp/nolar-logtest-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    return dir;
}();

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
} // namespace

TEST(Log, LineIsUtcIsoTimestampBlankMessageWhateverTheTimeZone) {
    setenv("TZ", "Asia/Vladivostok", 1);
    tzset();
    EXPECT_EQ(Log::formatLine(1772355907, "start 1.4 (27)"), "2026-03-01T09:05:07Z start 1.4 (27)\n");
    EXPECT_EQ(Log::formatLine(0, "a\nb"), "1970-01-01T00:00:00Z a\nb\n");
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(Log::formatLine(0, ""), "1970-01-01T00:00:00Z \n");
}

TEST(Log, CreatesTheFolderAndAppendsLinesInCallOrderWithoutTruncating) {
    EXPECT_EQ(Log::path(), stateDir + "/Nolar/nolar.log");
    // Another writer (the installer script) may have created the file first: its lines stay.
    Log::flush();
    std::string before = readAll(Log::path());
    Log::write("first");
    Log::write("");
    Log::write("two\nlines");
    Log::flush();
    std::string content = readAll(Log::path());
    ASSERT_EQ(content.rfind(before, 0), 0u);
    std::string added = content.substr(before.size());
    std::istringstream lines(added);
    std::string l1, l2, l3, l4;
    std::getline(lines, l1);
    std::getline(lines, l2);
    std::getline(lines, l3);
    std::getline(lines, l4);
    EXPECT_EQ(l1.substr(20), " first");
    EXPECT_EQ(l2.size(), 21u) << "an empty message leaves the timestamp and one blank";
    EXPECT_EQ(l3.substr(20), " two");
    EXPECT_EQ(l4, "lines") << "only the first line of a message has a timestamp";
    EXPECT_EQ(added.back(), '\n');
}

TEST(Log, WritesFromManyThreadsNeverInterleave) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) Log::write("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    Log::flush();
    std::istringstream lines(readAll(Log::path()));
    std::string line;
    int threadLines = 0;
    while (std::getline(lines, line))
        if (line.find(" thread ") == 20) ++threadLines;
    EXPECT_EQ(threadLines, 800);
}
