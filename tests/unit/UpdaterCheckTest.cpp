#include "UpdaterTest.h"

namespace {

class UpdaterCheck : public UpdaterTest {};

TEST_F(UpdaterCheck, StartChecksOnceSoonThenRepeatedlyWithoutKeepingTheUpdaterAlive) {
    updater->start();
    ASSERT_EQ(p.queue.delayed.size(), 1u);
    ASSERT_EQ(p.queue.timers.size(), 1u);

    p.queue.runDelayed();
    ASSERT_EQ(p.http.sent.size(), 1u);
    const auto& request = p.http.sent[0].request;
    EXPECT_EQ(std::tie(request.method, request.url, request.ignoreCache, request.httpsOnly, request.maxBytes),
              std::make_tuple("GET", AppConfig::versionURL(), true, true, uint64_t(1) << 20));
    answer(404, std::nullopt);
    p.queue.fireTimers();
    EXPECT_EQ(p.http.sent.size(), 2u);

    updater->start();
    updater.reset();
    p.queue.runDelayed();
    EXPECT_EQ(p.http.sent.size(), 2u);
}

TEST_F(UpdaterCheck, NothingHappensWhileACheckIsInFlightOrTheOfferIsOnScreen) {
    updater->check(false);
    updater->check(true);
    EXPECT_EQ(p.http.sent.size(), 1u);
    answerManifest(manifest(28));
    ASSERT_TRUE(updater->isOfferVisible()) << "window visible and application active: offered at once";
    EXPECT_FALSE(updater->isChecking());
    auto alerts = p.dialogs.alerts.size();
    updater->check(true);
    EXPECT_EQ(p.http.sent.size(), 1u);
    EXPECT_EQ(p.dialogs.alerts.size(), alerts);
    EXPECT_EQ(logged().size(), 1u) << "only the first check's line";
}

TEST_F(UpdaterCheck, FailedChecksAreLoggedAndOnlyManualOnesShowAnAlert) {
    struct Row {
        std::optional<int> status;
        std::optional<std::string> body, error;
        bool manual;
        std::string line;
    };
    const Row rows[] = {
        {404, "{}", std::nullopt, true, "update check failed: nil status=404"},
        {404, "{}", std::nullopt, false, "update check failed: nil status=404"},
        {std::nullopt, std::nullopt, "Could not connect to server", true,
         "update check failed: Could not connect to server status=0"},
        {200, "{\"build\":", std::nullopt, true, "update check failed: nil status=200"},
        {200, "[1,2]", std::nullopt, true, "update check failed: nil status=200"},
        {200, std::nullopt, std::nullopt, true, "update check failed: nil status=200"},
        {200, "{\"build\":99}", "timed out", false, "update check failed: timed out status=200"},
    };
    for (const auto& row : rows) {
        SetUp();
        p.dialogs.alerts.clear();
        updater->check(row.manual);
        answer(row.status, row.body, row.error);
        EXPECT_FALSE(updater->isChecking());
        EXPECT_EQ(logged(), std::vector<std::string>{row.line});
        ASSERT_EQ(p.dialogs.alerts.size(), row.manual ? 1u : 0u) << row.line;
        if (row.manual && row.error) {
            EXPECT_EQ(lastAlert().spec.informativeText, *row.error);
        }
    }
}

struct DecisionRow {
    const char* name;
    nlohmann::json manifest;
    bool manual, active, windowVisible, windowKept;
    std::string message;   // the alert's message text, "" when none
    bool notified;
};

TEST_F(UpdaterCheck, DecidesBetweenOfferNotificationAndNothing) {
    auto badUrl = manifest(28);
    badUrl["url"] = "http://" + AppConfig::serviceHost() + "/u.zip";
    auto shortSha = manifest(28);
    shortSha["sha256"] = std::string(63, 'a');
    auto noBuild = manifest(28);
    noBuild.erase("build");
    const std::string latest = "У вас последняя версия", rejected = "Обновление недоступно";
    const std::string normal = "Доступна новая версия Нолара — 1.5", critical = "Нужно обновить Нолар до версии 1.5";
    const DecisionRow rows[] = {
        {"same build, manual", manifest(27), true, true, true, true, latest, false},
        {"same build, automatic", manifest(27), false, true, true, true, "", false},
        {"no build member, manual", noBuild, true, true, true, true, latest, false},
        {"plain http address, manual", badUrl, true, true, true, true, rejected, false},
        {"short digest, automatic", shortSha, false, false, false, true, "", false},
        {"manual, hidden window, inactive", manifest(28), true, false, false, true, normal, false},
        {"critical, hidden window, inactive", manifest(28, 28), false, false, false, true, critical, false},
        {"critical, no window", manifest(28, 28), false, true, false, false, critical, false},
        {"active with visible window", manifest(28), false, true, true, true, normal, false},
        {"active, hidden window", manifest(28), false, true, false, true, "", true},
        {"inactive, visible window", manifest(28), false, false, true, true, "", true},
        {"active, window gone", manifest(28), false, true, true, false, "", true},
    };
    for (const auto& row : rows) {
        fakes::FakePlatform fresh;
        auto u = std::make_shared<Updater>(fresh.services);
        auto w = std::make_shared<fakes::FakeWindow>();
        w->visible = row.windowVisible;
        if (row.windowKept) u->window = w;
        u->notifier = Notifier::create(fresh.notifications, fresh.queue);
        fresh.app.active = row.active;
        u->check(row.manual);
        ASSERT_EQ(fresh.http.sent.size(), 1u) << row.name;
        fresh.http.sent.back().completion({200, row.manifest.dump(), std::nullopt});
        std::string message = fresh.dialogs.alerts.empty() ? "" : fresh.dialogs.alerts.back().spec.messageText;
        EXPECT_EQ(message, row.message) << row.name;
        EXPECT_EQ(!fresh.notifications.added.empty(), row.notified) << row.name;
        // An application-modal offer has been answered by the time the check returns.
        EXPECT_EQ(u->isOfferVisible(), row.windowKept && (row.message == normal || row.message == critical)) << row.name;
    }
    AppConfig::useMainBundle(&p.bundles.mainBundle);
}

TEST_F(UpdaterCheck, LogsTheComparisonAndExplainsManualOutcomes) {
    auto bad = manifest(28, 3);
    bad["url"] = "https://evil.example/u.zip";
    updater->check(true);
    answerManifest(bad);
    EXPECT_EQ(logged(), (std::vector<std::string>{"update check: remote=28 min=3 mine=27 manual=true",
                                                  "update rejected: bad url/sha"}));
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
    updater->check(true);
    answerManifest(manifest(20));
    EXPECT_NE(lastAlert().spec.informativeText.find("1.4 (сборка 27)"), std::string::npos) << "names the running build";
}

TEST_F(UpdaterCheck, NotifiesOncePerBuildAndANewerBuildNotifiesAgain) {
    window->visible = false;
    for (auto [build, notes] : {std::pair{28, ""}, {28, ""}, {29, "Исправления"}}) {
        updater->check(false);
        answerManifest(manifest(build, 0, notes));
    }
    ASSERT_EQ(p.notifications.added.size(), 2u);
    const auto& first = p.notifications.added[0];
    EXPECT_EQ(first.identifier, "upd:28");
    EXPECT_EQ(first.threadIdentifier, "kel-update");
    EXPECT_EQ(p.notifications.added[1].identifier, "upd:29");
    EXPECT_EQ(p.notifications.added[1].body, "Исправления");
    EXPECT_EQ(updater->lastNotified(), 29);
    EXPECT_TRUE(p.dialogs.alerts.empty());
}

TEST_F(UpdaterCheck, AnUpperCaseDigestReachesTheInstallationLowerCased) {
    updater->check(true);
    answerManifest(manifest(28));   // the digest is written in capitals
    p.dialogs.answerSheet(platform::AlertFirstButtonReturn);
    ASSERT_EQ(p.http.downloads.size(), 1u);
    p.files.files["/tmp/dl-1"] = "zip bytes";
    p.sha256.byContent["zip bytes"] = std::string(64, 'a');
    p.http.downloads[0].completion({"/tmp/dl-1", 200, std::nullopt});
    EXPECT_EQ(p.unzip.calls.size(), 1u) << "the digests matched";
    for (const auto& line : logged()) EXPECT_EQ(line.find("sha mismatch"), std::string::npos) << line;
}

} // namespace
