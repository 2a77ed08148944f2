#include <algorithm>
#include <map>
#include "UpdaterTest.h"

namespace {

class UpdaterOffer : public UpdaterTest {};

TEST_F(UpdaterOffer, NotesLeadTheTextAndTheCriticalFormDiffers) {
    window->visible = false;
    std::map<bool, platform::AlertSpec> plain;
    for (bool critical : {false, true})
        for (std::string notes : {"", "Быстрее."}) {
            offer("1.5", notes, critical);
            EXPECT_EQ(lastAlert().sheetOn, window.get());
            EXPECT_TRUE(window->visible) << "the window comes forward for its sheet";
            EXPECT_TRUE(updater->isOfferVisible());
            const auto& spec = lastAlert().spec;
            EXPECT_EQ(spec.buttons.size(), 2u);
            EXPECT_NE(spec.messageText.find("1.5"), std::string::npos);
            if (notes.empty()) {
                plain[critical] = spec;
            } else {
                EXPECT_EQ(spec.informativeText, notes + "\n\n" + plain[critical].informativeText);
            }
            p.dialogs.answerSheet(platform::AlertFirstButtonReturn + 1);
        }
    EXPECT_NE(plain[false].messageText, plain[true].messageText);
    EXPECT_NE(plain[false].buttons[1], plain[true].buttons[1]);
}

TEST_F(UpdaterOffer, AnswersBehaveTheSameAsSheetAndApplicationModal) {
    struct Row { bool critical; int response; bool downloads; int terminations; };
    const int update = platform::AlertFirstButtonReturn, second = update + 1;
    const Row rows[] = {{false, update, true, 0}, {false, second, false, 0}, {true, update, true, 0}, {true, second, false, 1}};
    for (bool modal : {false, true}) {
        for (const auto& row : rows) {
            fakes::FakePlatform fresh;
            auto u = std::make_shared<Updater>(fresh.services);
            auto w = std::make_shared<fakes::FakeWindow>();
            if (!modal) u->window = w;
            else fresh.dialogs.modalAnswers.push_back({row.response, ""});
            u->check(true);
            fresh.http.sent.back().completion({200, manifest(28, row.critical ? 28 : 0).dump(), std::nullopt});
            if (!modal) {
                EXPECT_TRUE(u->isOfferVisible());
                fresh.dialogs.answerSheet(row.response);
            }
            EXPECT_EQ(fresh.dialogs.alerts.at(0).sheetOn == nullptr, modal);
            EXPECT_FALSE(u->isOfferVisible());
            EXPECT_EQ(fresh.http.downloads.size(), row.downloads ? 1u : 0u) << modal << row.critical << row.response;
            EXPECT_EQ(fresh.app.terminations, row.terminations) << modal << row.critical << row.response;
        }
    }
    AppConfig::useMainBundle(&p.bundles.mainBundle);
}

TEST_F(UpdaterOffer, DownloadNeedsAWritableBundleFolder) {
    EXPECT_TRUE(writableLocation());
    p.bundles.mainBundle.bundlePath = "/opt/Nolar.app/";
    EXPECT_TRUE(writableLocation());
    EXPECT_TRUE(p.dialogs.alerts.empty());
    p.files.readOnly.insert("/opt");
    download();
    EXPECT_EQ(p.dialogs.progressShown, 0);
    EXPECT_TRUE(p.http.downloads.empty());
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
}

TEST_F(UpdaterOffer, DownloadShowsTheProgressPanelAndRequestsTheArchiveUncached) {
    download();
    EXPECT_EQ(p.dialogs.progressVisible, 1);
    ASSERT_EQ(p.http.downloads.size(), 1u);
    const auto& request = p.http.downloads[0].request;
    EXPECT_EQ(request.url, "https://" + AppConfig::serviceHost() + "/u.zip");
    EXPECT_EQ(request.timeoutSeconds, 300.0);
    EXPECT_TRUE(request.ignoreCache);
    download();
    EXPECT_EQ(p.dialogs.progressVisible, 1) << "a second download replaces the panel";
    p.http.downloads[0].completion({std::nullopt, 404, std::nullopt});
    EXPECT_EQ(p.dialogs.progressVisible, 0);
}

TEST_F(UpdaterOffer, FailedDownloadsCloseThePanelAndSayWhy) {
    struct Row {
        const char* name;
        platform::DownloadResult result;
        bool failCreate, failMove;
    };
    const Row rows[] = {
        {"not found", {"/tmp/dl", 404, std::nullopt}, false, false},
        {"no HTTP response", {"/tmp/dl", std::nullopt, std::nullopt}, false, false},
        {"network down", {std::nullopt, std::nullopt, "The network connection was lost."}, false, false},
        {"work folder not made", {"/tmp/dl", 200, std::nullopt}, true, false},
        {"move failed", {"/tmp/dl", 200, std::nullopt}, false, true},
    };
    for (const auto& row : rows) {
        fakes::FakePlatform fresh;
        fresh.files.files["/tmp/dl"] = "zip";
        fresh.files.failCreate = row.failCreate;
        fresh.files.failMove = row.failMove;
        auto u = std::make_shared<Updater>(fresh.services);
        u->window = window;
        download(*u, sha);
        fresh.http.downloads.at(0).completion(row.result);
        EXPECT_EQ(fresh.dialogs.progressVisible, 0) << row.name;
        ASSERT_EQ(fresh.dialogs.alerts.size(), 1u) << row.name;
        if (row.result.error) {
            EXPECT_EQ(fresh.dialogs.alerts[0].spec.informativeText, *row.result.error) << row.name;
        }
        EXPECT_TRUE(fresh.unzip.calls.empty()) << row.name;
        auto workFolders = std::count_if(fresh.files.dirs.begin(), fresh.files.dirs.end(),
                                         [](const std::string& d) { return d.rfind("/tmp/nolar-update-", 0) == 0; });
        EXPECT_EQ(workFolders, row.failMove ? 1 : 0) << row.name;
    }
    AppConfig::useMainBundle(&p.bundles.mainBundle);
}

TEST_F(UpdaterOffer, AGoodDownloadMovesIntoAPrivateWorkFolderAndIsInstalled) {
    p.files.files["/tmp/dl"] = "zip bytes";
    download();
    p.http.downloads[0].completion({"/tmp/dl", 200, std::nullopt});
    std::string work;
    for (const auto& dir : p.files.dirs)
        if (dir.rfind("/tmp/nolar-update-", 0) == 0) work = dir;
    ASSERT_EQ(work.size(), std::string("/tmp/nolar-update-").size() + 36);
    EXPECT_EQ(p.files.files.count("/tmp/dl"), 0u);
    EXPECT_EQ(p.files.files.at(work + "/update.zip"), "zip bytes");
    // The digest does not match here: the installation refuses, the panel closes.
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
    EXPECT_EQ(p.dialogs.progressVisible, 0);
    EXPECT_FALSE(progressShown());
}

} // namespace
