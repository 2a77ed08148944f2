#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
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

TEST(Log, FileAndFolderArePrivateAndALinkAtThePathIsNotFollowed) {
    Log::write("private");
    Log::flush();
    struct stat file {}, folder {};
    ASSERT_EQ(::stat(Log::path().c_str(), &file), 0);
    ASSERT_EQ(::stat((stateDir + "/Nolar").c_str(), &folder), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    std::string target = stateDir + "/elsewhere";
    std::ofstream(target) << "untouched\n";
    std::string saved = Log::path() + ".saved";
    ASSERT_EQ(::rename(Log::path().c_str(), saved.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), Log::path().c_str()), 0);
    Log::write("through a link");
    Log::flush();
    EXPECT_EQ(readAll(target), "untouched\n");
    ::unlink(Log::path().c_str());
    ::rename(saved.c_str(), Log::path().c_str());
}

TEST(Log, PastTenMebibytesTheFileBecomesLogDot1AndANewOneBegins) {
    Log::flush();
    {
        std::ofstream full(Log::path(), std::ios::trunc);
        full << "oldest line\n";
    }
    ASSERT_EQ(::truncate(Log::path().c_str(), 10 << 20), 0);
    Log::write("newest line");
    Log::flush();
    EXPECT_EQ(readAll(Log::path() + ".1").rfind("oldest line\n", 0), 0u);
    std::string fresh = readAll(Log::path());
    EXPECT_EQ(fresh.substr(20), " newest line\n");
}
