#include <gtest/gtest.h>
#include <fstream>
#include <regex>
#include <stdlib.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include "Log.h"
#include "fakes/FakePlatform.h"

using fakes::readFile;

namespace {
// The log's folder is fixed at its first write, so point it at a private folder before any test runs.
const std::string stateDir = [] {
    char tmpl[] = "/tmp/nolar-logtest-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    return dir;
}();
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
    std::string before = fakes::logText();
    for (auto message : {"first", "", "two\nlines"}) Log::write(message);
    std::string content = fakes::logText();
    ASSERT_EQ(content.rfind(before, 0), 0u);
    // Only the first line of a message has a timestamp; an empty message leaves it and one blank.
    std::regex timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    std::string added = content.substr(before.size());
    EXPECT_EQ(std::regex_replace(added, timestamp, "T"), "T first\nT \nT two\nlines\n");
}

TEST(Log, WritesFromManyThreadsNeverInterleave) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) Log::write("thread " + std::to_string(t) + " " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    std::istringstream lines(fakes::logText());
    int threadLines = 0;
    for (std::string line; std::getline(lines, line);) threadLines += line.find(" thread ") == 20;
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

    std::string target = stateDir + "/elsewhere", saved = Log::path() + ".saved";
    std::ofstream(target) << "untouched\n";
    ASSERT_EQ(::rename(Log::path().c_str(), saved.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), Log::path().c_str()), 0);
    Log::write("through a link");
    Log::flush();
    EXPECT_EQ(readFile(target), "untouched\n");
    ::unlink(Log::path().c_str());
    ::rename(saved.c_str(), Log::path().c_str());
}

TEST(Log, PastTenMebibytesTheFileBecomesLogDot1AndANewOneBegins) {
    Log::flush();
    std::ofstream(Log::path(), std::ios::trunc) << "oldest line\n";
    ASSERT_EQ(::truncate(Log::path().c_str(), 10 << 20), 0);
    Log::write("newest line");
    EXPECT_EQ(fakes::logText().substr(20), " newest line\n");
    EXPECT_EQ(readFile(Log::path() + ".1").rfind("oldest line\n", 0), 0u);
}
