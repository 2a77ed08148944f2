#include <algorithm>
#include <functional>
#include "Resources.h"
#include "UpdaterTest.h"

namespace {

const std::string work = "/tmp/nolar-update-0000";
const std::string zip = work + "/update.zip";
const std::string unpacked = work + "/unpacked";
const std::string newBundle = unpacked + "/Nolar.app";

const char* const mismatch = "Контрольная сумма не совпала — обновление отменено ради безопасности.";
const char* const unpackFailed = "Не удалось распаковать обновление.";
const char* const notOurs = "Архив обновления не похож на новую версию Нолара.";

// A downloaded archive in its work folder that unpacks into build 28 of this application.
void stage(fakes::FakePlatform& p, const std::string& sha) {
    p.files.dirs.insert(work);
    p.files.files[zip] = "zip bytes";
    p.sha256.digests[zip] = sha;
    p.unzip.entries = {"Nolar.app/", "Nolar.app/Contents/"};
    fakes::FakeBundle next;
    next.bundlePath = newBundle;
    next.info["CFBundleVersion"] = "28";
    p.bundles.others[newBundle] = next;
}

class UpdaterInstall : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        stage(p, sha);
    }

    struct Row {
        const char* name;
        std::function<void(fakes::FakePlatform&)> change;
        std::optional<std::string> result;
    };
    // Installs in a fresh scene changed by the row; what it returned and what it started.
    void expectRow(const Row& row) {
        fakes::FakePlatform scene;
        stage(scene, sha);
        row.change(scene);
        auto u = std::make_shared<Updater>(scene.services);
        EXPECT_EQ(install(*u, zip, sha), row.result) << row.name;
        EXPECT_EQ(scene.processes.spawned.size(), row.result ? 0u : 1u) << row.name;
        EXPECT_EQ(scene.app.terminations, row.result ? 0 : 1) << row.name;
        EXPECT_TRUE(scene.files.files.count(zip)) << row.name << ": the application removes nothing";
    }
    void TearDown() override { AppConfig::useMainBundle(&p.bundles.mainBundle); }
};

fakes::FakeBundle& next(fakes::FakePlatform& p) { return p.bundles.others[newBundle]; }

TEST_F(UpdaterInstall, StartsThePrivateScriptWithItsFiveArgumentsAndTerminates) {
    EXPECT_EQ(install(zip), std::nullopt);
    ASSERT_EQ(p.unzip.calls.size(), 1u);
    EXPECT_EQ(p.unzip.calls[0], std::make_pair(zip, unpacked));
    ASSERT_EQ(p.processes.spawned.size(), 1u);
    const auto& [exe, args] = p.processes.spawned[0];
    EXPECT_EQ(exe, "/bin/bash");
    ASSERT_EQ(args.size(), 6u);
    EXPECT_EQ(args[0], "--") << "the script path is never read as an option of bash";
    const std::string& script = args[1];
    EXPECT_EQ(script.rfind("/tmp/nolar-apply-update-", 0), 0u);
    EXPECT_EQ(script.size(), std::string("/tmp/nolar-apply-update-.sh").size() + 36);
    EXPECT_EQ(p.files.files.at(script), Resources::apply_update_sh());
    EXPECT_EQ(std::vector<std::string>(args.begin() + 2, args.end()),
              (std::vector<std::string>{"4242", "/opt/Nolar.app", newBundle, work}));
    EXPECT_EQ(logged(), std::vector<std::string>{"update: build 28 staged, restarting"});
    EXPECT_EQ(p.app.terminations, 1);
}

TEST_F(UpdaterInstall, InstallsOnlyANewerBuildOfTheSameApplicationAndSaysWhyNot) {
    using P = fakes::FakePlatform;
    const Row rows[] = {
        {"plus sign", [](P& p) { next(p).info["CFBundleVersion"] = "+42"; }, std::nullopt},
        {"both without identifier",
         [](P& p) {
             next(p).info.erase("CFBundleIdentifier");
             p.bundles.mainBundle.info.erase("CFBundleIdentifier");
         },
         std::nullopt},
        {"other entries beside the bundle", [](P& p) { p.unzip.entries = {"README.txt", "Nolar.app/"}; }, std::nullopt},
        {"unreadable archive", [](P& p) { p.sha256.digests.erase(zip); }, "Файл обновления повреждён."},
        {"other digest", [](P& p) { p.sha256.digests[zip] = std::string(64, 'b'); }, mismatch},
        {"digest in capitals", [](P& p) { p.sha256.digests[zip] = std::string(64, 'A'); }, mismatch},
        {"unpacking fails", [](P& p) { p.unzip.succeed = false; }, unpackFailed},
        {"no bundle", [](P& p) { p.unzip.entries = {"Nolar/", "README"}; }, unpackFailed},
        {"bundle in a subfolder", [](P& p) { p.unzip.entries = {"dist/", "dist/Nolar.app/"}; }, unpackFailed},
        {"suffix in capitals", [](P& p) { p.unzip.entries = {"Nolar.APP/"}; }, unpackFailed},
        {"bundle is not a folder (a link)", [](P& p) { p.unzip.entries = {"Nolar.app"}; }, unpackFailed},
        {"not a bundle", [](P& p) { p.bundles.others.clear(); }, notOurs},
        {"same build", [](P& p) { next(p).info["CFBundleVersion"] = "27"; }, notOurs},
        {"lower build", [](P& p) { next(p).info["CFBundleVersion"] = "-28"; }, notOurs},
        {"dotted build", [](P& p) { next(p).info["CFBundleVersion"] = "1.2.3"; }, notOurs},
        {"blank before build", [](P& p) { next(p).info["CFBundleVersion"] = " 28"; }, notOurs},
        {"no build", [](P& p) { next(p).info.erase("CFBundleVersion"); }, notOurs},
        {"other identifier", [](P& p) { next(p).info["CFBundleIdentifier"] = "org.other.App"; }, notOurs},
        {"identifier only on one side", [](P& p) { next(p).info.erase("CFBundleIdentifier"); }, notOurs},
        {"script not written", [](P& p) { p.files.failWrite = true; }, "Не удалось подготовить установку."},
        {"script not started", [](P& p) { p.processes.canSpawn = false; }, "Не удалось запустить установку."},
    };
    for (const auto& row : rows) expectRow(row);
}

TEST_F(UpdaterInstall, AMismatchLogsBothDigests) {
    p.sha256.digests[zip] = std::string(64, 'b');
    install(zip);
    EXPECT_EQ(logged(), std::vector<std::string>{"sha mismatch: got " + std::string(64, 'b') + " want " + sha});
}

TEST_F(UpdaterInstall, ThePanelStaysUpOnlyWhenTheInstallerRuns) {
    download();
    downloaded(zip);
    EXPECT_EQ(p.app.terminations, 1);
    EXPECT_EQ(p.dialogs.progressVisible, 1);
    EXPECT_TRUE(p.dialogs.alerts.empty());

    p.bundles.others.clear();
    download();
    downloaded(zip);
    EXPECT_EQ(lastAlertTexts(), std::make_pair(std::string("Обновление не установлено"), std::string(notOurs)));
    EXPECT_EQ(p.dialogs.progressVisible, 0);
}

} // namespace
