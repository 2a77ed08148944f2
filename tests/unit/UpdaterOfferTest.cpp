#include <algorithm>
#include "UpdaterTest.h"

namespace {

using Alert = std::pair<std::string, std::string>;

class UpdaterOffer : public UpdaterTest {};

TEST_F(UpdaterOffer, TextsAndButtonsOfTheNormalAndCriticalForms) {
    struct Row { bool critical; std::string notes, message, informative, second; };
    const std::string normalTail = "Сейчас у вас 1.4. Обновление займёт несколько секунд, Нолар перезапустится.";
    const std::string criticalTail = "Ваша версия больше не поддерживается. Обновление займёт несколько секунд.";
    const Row rows[] = {
        {false, "", "Доступна новая версия Нолара — 1.5", normalTail, "Позже"},
        {false, "Быстрее.", "Доступна новая версия Нолара — 1.5", "Быстрее.\n\n" + normalTail, "Позже"},
        {true, "", "Нужно обновить Нолар до версии 1.5", criticalTail, "Выйти"},
        {true, "Важно.", "Нужно обновить Нолар до версии 1.5", "Важно.\n\n" + criticalTail, "Выйти"},
    };
    window->visible = false;
    for (const auto& row : rows) {
        offer("1.5", row.notes, row.critical);
        EXPECT_EQ(lastAlert().sheetOn, window.get());
        EXPECT_TRUE(window->visible) << "the window comes forward for its sheet";
        EXPECT_EQ(lastAlertTexts(), Alert(row.message, row.informative));
        EXPECT_EQ(lastAlert().spec.buttons, (std::vector<std::string>{"Обновить", row.second}));
        EXPECT_TRUE(updater->isOfferVisible());
        p.dialogs.answerSheet(platform::AlertFirstButtonReturn + 1);
    }
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
    EXPECT_EQ(lastAlertTexts(),
              Alert("Сначала перенесите Нолар в «Программы»",
                    "Сейчас Нолар запущен из папки, куда нельзя записать обновление (например, прямо из «Загрузок»). "
                    "Закройте Нолар, перетащите его в папку «Программы» и откройте оттуда."));
}

TEST_F(UpdaterOffer, DownloadShowsTheProgressPanelAndRequestsTheArchiveUncached) {
    download();
    EXPECT_EQ(p.dialogs.progressTexts.back(), std::make_pair(std::string("Обновление Нолара"),
                                                             std::string("Скачиваю Нолар 1.5…")));
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
        std::string detail;
    };
    const Row rows[] = {
        {"not found", {"/tmp/dl", 404, std::nullopt}, false, false, "Попробуйте позже."},
        {"no HTTP response", {"/tmp/dl", std::nullopt, std::nullopt}, false, false, "Попробуйте позже."},
        {"network down", {std::nullopt, std::nullopt, "The network connection was lost."}, false, false,
         "The network connection was lost."},
        {"work folder not made", {"/tmp/dl", 200, std::nullopt}, true, false, "Попробуйте позже."},
        {"move failed", {"/tmp/dl", 200, std::nullopt}, false, true, "Попробуйте позже."},
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
        EXPECT_EQ(fresh.dialogs.alerts[0].spec.messageText, "Не удалось скачать обновление") << row.name;
        EXPECT_EQ(fresh.dialogs.alerts[0].spec.informativeText, row.detail) << row.name;
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
    ASSERT_EQ(p.dialogs.alerts.size(), 1u);
    EXPECT_EQ(lastAlertTexts(), Alert("Обновление не установлено", "Файл обновления повреждён."));
    EXPECT_EQ(p.dialogs.progressVisible, 0);
    EXPECT_FALSE(progressShown());
}

} // namespace
