// The whole update path on the real file system: a manifest (fake HTTP) offers build 28, the
// archive is "downloaded", hashed, unpacked, validated, and the real installer script swaps the
// bundle in a temporary folder and starts the new build.
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "Log.h"
#include "TempDir.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"
#include "platform/gtk/LibarchiveUnzip.h"
#include "platform/gtk/OpenSslSha256.h"
#include "platform/gtk/PlistBundles.h"
#include "platform/gtk/PosixFiles.h"
#include "platform/gtk/PosixProcesses.h"

namespace {

// The log (ours and the script's) goes to a private folder, fixed before anything logs and
// removed after the log's writer has stopped.
const std::string stateHome = [] {
    char tmpl[] = "/tmp/nolar-flow-state-XXXXXX";
    std::string dir = ::mkdtemp(tmpl);
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(std::getenv("XDG_STATE_HOME"), ec);
    });
    return dir;
}();

std::string infoPlist(const std::string& build) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
           "<key>CFBundleIdentifier</key><string>org.nolar.Nolar</string>\n"
           "<key>CFBundleExecutable</key><string>nolar</string>\n"
           "<key>CFBundleShortVersionString</key><string>1." + build + "</string>\n"
           "<key>CFBundleVersion</key><string>" + build + "</string>\n</dict></plist>\n";
}

// The bundle's executable: reports the build of the bundle it was started from.
const char* const reporter = "#!/bin/sh\n"
                             "grep -o '<string>[0-9]*</string>' \"$(dirname \"$0\")/../Info.plist\" >> \"$NOLAR_TEST_MARKER\"\n";

// The work folder is the script's last thing to remove.
bool workFolderLeft(const std::string& tmp) {
    for (const auto& entry : fs::directory_iterator(tmp))
        if (entry.path().filename().string().rfind("nolar-update-", 0) == 0) return true;
    return false;
}

struct TempFiles : platform::gtk::PosixFiles {
    std::string tmp;
    std::string temporaryDirectory() const override { return tmp; }
};

// This process must not look alive to the script, which would otherwise wait for it.
struct EndedProcess : platform::gtk::PosixProcesses {
    long ended = 0;
    long pid() const override { return ended; }
};

struct InstalledBundles : platform::Bundles {
    platform::gtk::PlistBundles real;
    std::unique_ptr<platform::BundleInfo> installed;
    const platform::BundleInfo& main() const override { return *installed; }
    std::unique_ptr<platform::BundleInfo> open(const std::string& path) const override { return real.open(path); }
};

long endedPid() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(UpdateInstallFlow, ADownloadedArchiveReplacesTheBundleAndTheNewBuildStarts) {
    TempDir t;
    const std::string old = t / "Apps dir/Nolar.app";
    fs::create_directories(old + "/Contents/Linux");
    writeFile(old + "/Contents/Info.plist", infoPlist("27"));
    writeFile(old + "/Contents/Linux/nolar", reporter);
    fs::permissions(old + "/Contents/Linux/nolar", fs::perms(0755));
    ASSERT_TRUE(makeZip(t, t / "dl.part", {{"Nolar.app/", "", 040755},
                                           {"Nolar.app/Contents/Info.plist", infoPlist("28")},
                                           {"Nolar.app/Contents/Linux/nolar", reporter, 0100755}}));
    ::setenv("NOLAR_TEST_MARKER", (t / "marker").c_str(), 1);
    fs::create_directory(t / "tmp");

    fakes::FakePlatform fake;
    InstalledBundles bundles;
    bundles.installed = bundles.real.open(old);
    ASSERT_TRUE(bundles.installed);
    TempFiles files;
    files.tmp = t / "tmp";
    platform::gtk::OpenSslSha256 sha256;
    platform::gtk::LibarchiveUnzip unzip;
    EndedProcess processes;
    processes.ended = endedPid();
    platform::Platform services{fake.app, fake.queue, fake.dialogs, fake.web, fake.windows, fake.notifications,
                                fake.workspace, fake.http, fake.settings, bundles, files, sha256, unzip, processes,
                                fake.tray, fake.appearance, fake.loginItem};
    AppConfig::useMainBundle(bundles.installed.get());
    struct Restore {
        ~Restore() { AppConfig::useMainBundle(nullptr); }
    } restore;

    auto updater = std::make_shared<Updater>(services);
    updater->check(true);
    nlohmann::json manifest{{"build", 28}, {"versionName", "1.28"}, {"url", AppConfig::updatePrefix() + "u.zip"},
                            {"sha256", *sha256.hexDigestOfFile(t / "dl.part")}};
    fake.http.sent.at(0).completion({200, manifest.dump(), std::nullopt});
    // No window: the offer ran application-modally and was accepted with "Обновить".
    ASSERT_EQ(fake.http.downloads.size(), 1u);
    fake.http.downloads[0].completion({t / "dl.part", 200, std::nullopt});
    EXPECT_EQ(fake.app.terminations, 1);
    ASSERT_EQ(fake.dialogs.alerts.size(), 1u) << "only the offer: " << fake.dialogs.alerts.back().spec.informativeText;

    std::string marker;
    for (int i = 0; i < 600 && (marker.empty() || workFolderLeft(t / "tmp")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        marker = readFile(t / "marker");
    }
    EXPECT_EQ(marker, "<string>28</string>\n") << "the new build was started from the bundle path";
    EXPECT_EQ(readFile(old + "/Contents/Info.plist"), infoPlist("28"));
    EXPECT_FALSE(fs::exists(old + ".update-bak"));
    for (const auto& entry : fs::directory_iterator(t / "tmp"))
        EXPECT_EQ(entry.path().filename().string().rfind("nolar-apply-update-", 0), 0u)
            << entry.path() << ": only the script file stays";

    Log::flush();
    std::string log = readFile(Log::path());
    auto staged = log.find(" update: build 28 staged, restarting\n");
    auto swapped = log.find(" updated OK\n");
    ASSERT_NE(staged, std::string::npos) << log;
    ASSERT_NE(swapped, std::string::npos) << log;
    EXPECT_LT(staged, swapped);
}

} // namespace
