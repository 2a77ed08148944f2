// The updater on fake platforms: checks, offers, downloads, installation, manifest signatures.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <functional>
#include <sstream>
#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "Notifier.h"
#include "Resources.h"
#include "UpdateSignature.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"

using namespace fakes;
using Strings = std::vector<std::string>;

namespace {

const std::string archiveURL = "https://" + AppConfig::serviceHost() + "/u.zip";
const std::string sha(64, 'a');

nlohmann::json manifest(int64_t build, int64_t minBuild = 0, const std::string& notes = "") {
    return {{"build", build}, {"minBuild", minBuild}, {"versionName", "1.5"}, {"url", archiveURL},
            {"sha256", std::string(64, 'A')}, {"notes", notes}};
}

// An updater on a fake platform, with a visible main window and a notifier.
struct Scene {
    FakePlatform p;
    std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
    std::shared_ptr<Updater> updater;

    explicit Scene(const std::string& key = "") : updater(std::make_shared<Updater>(p.services, key)) {
        window->visible = true;
        updater->window = window;
        updater->notifier = Notifier::create(p.notifications, p.queue);
    }
    // Answers the last request sent.
    void answer(std::optional<int> status, Text body, Text error = {}) {
        ASSERT_FALSE(p.http.sent.empty());
        auto completion = std::move(p.http.sent.back().completion);
        completion({status, std::move(body), std::move(error)});
    }
    void check(bool manual, const nlohmann::json& answer) {
        updater->check(manual);
        this->answer(200, answer.dump());
    }
    const AlertSpec& lastAlert() const { return p.dialogs.alerts.back().spec; }
};

} // namespace

// Reaches the updater's own steps (Updater's friend), and reads what the test logged.
class UpdaterTest : public ::testing::Test, public Scene {
protected:
    size_t logStart = logText().size();

    static void offer(Updater& u, bool critical, const std::string& notes) {
        u.offer("1.5", notes, archiveURL, sha, critical);
    }
    static void download(Updater& u) { u.download(archiveURL, sha, "1.5"); }
    static void downloaded(Updater& u, const std::string& zip) { u.downloaded(zip, std::nullopt, sha); }
    static Text install(Updater& u, const std::string& zip) { return u.install(zip, sha); }
    // The messages logged since the test began, without timestamps.
    Strings logged() const {
        std::istringstream lines(logText().substr(logStart));
        Strings out;
        for (std::string line; std::getline(lines, line);)
            out.push_back(line.substr(std::min<size_t>(21, line.size())));
        return out;
    }
};

namespace {

using UpdaterCheck = UpdaterTest;

TEST_F(UpdaterCheck, StartChecksOnceSoonThenRepeatedlyWithoutKeepingTheUpdaterAlive) {
    updater->start();
    ASSERT_EQ(p.queue.delayed.size(), 1u);
    ASSERT_EQ(p.queue.liveTimers(), 1);
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
    answer(200, manifest(28).dump());
    ASSERT_TRUE(updater->isOfferVisible()) << "window visible and application active: offered at once";
    EXPECT_FALSE(updater->isChecking());
    updater->check(true);
    EXPECT_EQ(p.http.sent.size(), 1u);
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
    EXPECT_EQ(logged().size(), 1u) << "only the first check's line";
}

TEST_F(UpdaterCheck, FailedChecksAreLoggedAndOnlyManualOnesShowAnAlert) {
    struct Row { std::optional<int> status; Text body, error; bool manual; std::string line; };
    const std::string failed = "update check failed: ";
    const Row rows[] = {
        {404, "{}", std::nullopt, true, failed + "nil status=404"},
        {404, "{}", std::nullopt, false, failed + "nil status=404"},
        {std::nullopt, std::nullopt, "Could not connect", true, failed + "Could not connect status=0"},
        {200, "{\"build\":", std::nullopt, true, failed + "nil status=200"},
        {200, "[1,2]", std::nullopt, true, failed + "nil status=200"},
        {200, std::nullopt, std::nullopt, true, failed + "nil status=200"},
        {200, "{\"build\":99}", "timed out", false, failed + "timed out status=200"},
    };
    for (const auto& row : rows) {
        logStart = logText().size();
        p.dialogs.alerts.clear();
        updater->check(row.manual);
        answer(row.status, row.body, row.error);
        EXPECT_FALSE(updater->isChecking());
        EXPECT_EQ(logged(), Strings{row.line});
        ASSERT_EQ(p.dialogs.alerts.size(), row.manual ? 1u : 0u) << row.line;
        if (!row.manual) continue;
        EXPECT_EQ(lastAlert().informativeText, row.error.value_or("Сервер обновлений пока недоступен."));
    }
}

TEST(UpdaterDecision, DecidesBetweenOfferNotificationAndNothing) {
    auto badUrl = manifest(28), shortSha = manifest(28), noBuild = manifest(28);
    badUrl["url"] = "http://" + AppConfig::serviceHost() + "/u.zip";
    shortSha["sha256"] = std::string(63, 'a');
    noBuild.erase("build");
    const std::string latest = "У вас последняя версия", rejected = "Обновление недоступно";
    const std::string normal = "Доступна новая версия Нолара — 1.5";
    const std::string critical = "Нужно обновить Нолар до версии 1.5";
    struct Row {
        const char* name;
        nlohmann::json manifest;
        bool manual, active, windowVisible, windowKept;
        std::string message; // the alert's message text, "" when none
        bool notified;
    } rows[] = {
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
        Scene s;
        s.window->visible = row.windowVisible;
        if (!row.windowKept) s.updater->window.reset();
        s.p.app.active = row.active;
        s.check(row.manual, row.manifest);
        EXPECT_EQ(s.p.dialogs.alerts.empty() ? "" : s.lastAlert().messageText, row.message) << row.name;
        EXPECT_EQ(!s.p.notifications.added.empty(), row.notified) << row.name;
        // An application-modal offer has been answered by the time the check returns.
        bool offered = row.message == normal || row.message == critical;
        EXPECT_EQ(s.updater->isOfferVisible(), row.windowKept && offered) << row.name;
    }
}

TEST_F(UpdaterCheck, LogsTheComparisonAndExplainsManualOutcomes) {
    auto bad = manifest(28, 3);
    bad["url"] = "https://evil.example/u.zip";
    check(true, bad);
    EXPECT_EQ(logged(), (Strings{"update check: remote=28 min=3 mine=27 manual=true",
                                 "update rejected: bad url/sha"}));
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
    check(true, manifest(20));
    EXPECT_NE(lastAlert().informativeText.find("1.4 (сборка 27)"), std::string::npos) << "the running build";
}

TEST_F(UpdaterCheck, NotifiesOncePerBuildAndANewerBuildNotifiesAgain) {
    window->visible = false;
    for (auto [build, notes] : {std::pair{28, ""}, {28, ""}, {29, "Исправления"}})
        check(false, manifest(build, 0, notes));
    ASSERT_EQ(p.notifications.added.size(), 2u);
    auto [first, second] = std::tie(p.notifications.added[0], p.notifications.added[1]);
    EXPECT_EQ(std::tie(first.identifier, first.threadIdentifier), std::make_tuple("upd:28", "kel-update"));
    EXPECT_EQ(std::tie(second.identifier, second.body), std::make_tuple("upd:29", "Исправления"));
    EXPECT_EQ(updater->lastNotified(), 29);
    EXPECT_TRUE(p.dialogs.alerts.empty());
}

using UpdaterOffer = UpdaterTest;

TEST_F(UpdaterOffer, NotesLeadTheTextAndTheCriticalFormDiffers) {
    window->visible = false;
    std::map<bool, AlertSpec> plain;
    for (bool critical : {false, true})
        for (std::string notes : {"", "Быстрее."}) {
            offer(*updater, critical, notes);
            EXPECT_EQ(p.dialogs.alerts.back().sheetOn, window.get());
            EXPECT_TRUE(window->visible) << "the window comes forward for its sheet";
            EXPECT_TRUE(updater->isOfferVisible());
            EXPECT_EQ(lastAlert().buttons.size(), 2u);
            EXPECT_NE(lastAlert().messageText.find("1.5"), std::string::npos);
            if (notes.empty()) plain[critical] = lastAlert();
            else EXPECT_EQ(lastAlert().informativeText, notes + "\n\n" + plain[critical].informativeText);
            p.dialogs.answerSheet(AlertFirstButtonReturn + 1);
        }
    EXPECT_NE(plain[false].messageText, plain[true].messageText);
    EXPECT_NE(plain[false].buttons[1], plain[true].buttons[1]);
}

TEST(UpdaterOfferAnswer, AnswersBehaveTheSameAsSheetAndApplicationModal) {
    struct Row { bool critical; int response; bool downloads; int terminations; };
    const int update = AlertFirstButtonReturn, later = update + 1;
    const Row rows[] = {{false, update, true, 0}, {false, later, false, 0}, {true, update, true, 0},
                        {true, later, false, 1}};
    for (bool modal : {false, true})
        for (const auto& row : rows) {
            Scene s;
            if (modal) s.updater->window.reset();
            if (modal) s.p.dialogs.modalAnswers.push_back({row.response, ""});
            s.check(true, manifest(28, row.critical ? 28 : 0));
            EXPECT_EQ(s.updater->isOfferVisible(), !modal);
            s.p.dialogs.answerSheet(row.response);
            EXPECT_EQ(s.p.dialogs.alerts.at(0).sheetOn == nullptr, modal);
            EXPECT_FALSE(s.updater->isOfferVisible());
            std::ostringstream name;
            name << "modal " << modal << " critical " << row.critical << " answer " << row.response;
            EXPECT_EQ(s.p.http.downloads.size(), row.downloads ? 1u : 0u) << name.str();
            EXPECT_EQ(s.p.app.terminations, row.terminations) << name.str();
        }
}

TEST_F(UpdaterOffer, DownloadShowsTheProgressPanelAndNeedsAWritableBundleFolder) {
    p.bundles.mainBundle.bundlePath = "/opt/Nolar.app/";
    download(*updater);
    EXPECT_EQ(p.dialogs.progressVisible, 1);
    ASSERT_EQ(p.http.downloads.size(), 1u);
    const auto& r = p.http.downloads[0].request;
    EXPECT_EQ(std::tie(r.url, r.timeoutSeconds, r.ignoreCache, r.httpsOnly, r.maxBytes),
              std::make_tuple(archiveURL, 300.0, true, true, uint64_t(2) << 30));
    download(*updater);
    EXPECT_EQ(p.dialogs.progressVisible, 1) << "a second download replaces the panel";
    EXPECT_TRUE(p.dialogs.alerts.empty());
    p.files.readOnly.insert("/opt");
    download(*updater);
    EXPECT_EQ(std::make_pair(p.dialogs.progressShown, p.http.downloads.size()), std::make_pair(2, size_t(2)));
    EXPECT_EQ(p.dialogs.alerts.size(), 1u);
}

TEST_F(UpdaterOffer, FailedDownloadsCloseThePanelAndSayWhy) {
    struct Row { const char* name; DownloadResult result; bool failCreate, failMove; } rows[] = {
        {"not found", {"/tmp/dl", 404, std::nullopt}, false, false},
        {"no HTTP response", {"/tmp/dl", std::nullopt, std::nullopt}, false, false},
        {"network down", {std::nullopt, std::nullopt, "The network connection was lost."}, false, false},
        {"work folder not made", {"/tmp/dl", 200, std::nullopt}, true, false},
        {"move failed", {"/tmp/dl", 200, std::nullopt}, false, true},
    };
    for (const auto& row : rows) {
        Scene s;
        s.p.files.files["/tmp/dl"] = "zip";
        s.p.files.failCreate = row.failCreate;
        s.p.files.failMove = row.failMove;
        download(*s.updater);
        s.p.http.downloads.at(0).completion(row.result);
        EXPECT_EQ(s.p.dialogs.progressVisible, 0) << row.name;
        ASSERT_EQ(s.p.dialogs.alerts.size(), 1u) << row.name;
        EXPECT_EQ(s.lastAlert().informativeText, row.result.error.value_or("Попробуйте позже.")) << row.name;
        EXPECT_TRUE(s.p.unzip.calls.empty()) << row.name;
        auto workFolders = std::count_if(s.p.files.dirs.begin(), s.p.files.dirs.end(),
                                         [](auto& d) { return d.rfind("/tmp/nolar-update-", 0) == 0; });
        EXPECT_EQ(workFolders, row.failMove ? 1 : 0) << row.name;
    }
}

TEST_F(UpdaterOffer, AnAcceptedOfferIsDownloadedIntoAPrivateWorkFolderAndInstalledFromThere) {
    check(true, manifest(28)); // the digest is written in capitals
    p.dialogs.answerSheet(AlertFirstButtonReturn);
    ASSERT_EQ(p.http.downloads.size(), 1u);
    p.files.files["/tmp/dl"] = "zip bytes";
    p.sha256.digests["zip bytes"] = sha;
    p.http.downloads[0].completion({"/tmp/dl", 200, std::nullopt});
    auto work = *std::find_if(p.files.dirs.begin(), p.files.dirs.end(),
                              [](auto& d) { return d.rfind("/tmp/nolar-update-", 0) == 0; });
    ASSERT_EQ(work.size(), std::string("/tmp/nolar-update-").size() + 36);
    EXPECT_EQ(p.files.files.count("/tmp/dl"), 0u);
    ASSERT_EQ(p.unzip.calls.size(), 1u) << "the archive's digest matched the manifest's";
    EXPECT_EQ(p.unzip.calls[0], std::pair(work + "/update.zip", work + "/unpacked"));
    // It holds no bundle: the installation refuses, the panel closes.
    EXPECT_EQ(std::tie(lastAlert().messageText, lastAlert().informativeText),
              std::make_tuple("Обновление не установлено", "Не удалось распаковать обновление."));
    EXPECT_EQ(p.dialogs.progressVisible, 0);
}

const std::string work = "/tmp/nolar-update-0000", zip = work + "/update.zip";
const std::string unpacked = work + "/unpacked", newBundle = unpacked + "/Nolar.app";
const char* const mismatch = "Контрольная сумма не совпала — обновление отменено ради безопасности.";
const char* const unpackFailed = "Не удалось распаковать обновление.";
const char* const notOurs = "Архив обновления не похож на новую версию Нолара.";

// A downloaded archive in its work folder that unpacks into build 28 of this application.
void stage(FakePlatform& p) {
    p.files.dirs.insert(work);
    p.files.files[zip] = "zip bytes";
    p.sha256.digests["zip bytes"] = sha;
    p.unzip.entries = {"Nolar.app/", "Nolar.app/Contents/"};
    p.bundles.others[newBundle].bundlePath = newBundle;
    p.bundles.others[newBundle].info["CFBundleVersion"] = "28";
}

FakeBundle& next(FakePlatform& p) { return p.bundles.others[newBundle]; }

struct UpdaterInstall : UpdaterTest {
    void SetUp() override { stage(p); }
};

TEST_F(UpdaterInstall, StartsThePrivateScriptWithItsFiveArgumentsAndTerminatesWithThePanelUp) {
    download(*updater);
    downloaded(*updater, zip);
    ASSERT_EQ(p.unzip.calls.size(), 1u);
    EXPECT_EQ(p.unzip.calls[0], std::pair(zip, unpacked));
    ASSERT_EQ(p.processes.spawned.size(), 1u);
    const auto& [exe, args] = p.processes.spawned[0];
    EXPECT_EQ(exe, "/bin/bash");
    ASSERT_EQ(args.size(), 6u);
    EXPECT_EQ(args[0], "--") << "the script path is never read as an option of bash";
    EXPECT_EQ(args[1].rfind("/tmp/nolar-apply-update-", 0), 0u);
    EXPECT_EQ(args[1].size(), std::string("/tmp/nolar-apply-update-.sh").size() + 36);
    EXPECT_EQ(p.files.files.at(args[1]), Resources::apply_update_sh());
    EXPECT_EQ(Strings(args.begin() + 2, args.end()), (Strings{"4242", "/opt/Nolar.app", newBundle, work}));
    EXPECT_EQ(logged(), Strings{"update: build 28 staged, restarting"});
    EXPECT_EQ(p.app.terminations, 1);
    EXPECT_EQ(p.dialogs.progressVisible, 1) << "until the application ends";
    EXPECT_TRUE(p.dialogs.alerts.empty());
}

TEST_F(UpdaterInstall, InstallsOnlyANewerBuildOfTheSameApplicationAndSaysWhyNot) {
    using P = FakePlatform;
    auto build = [](const char* b) { return [b](P& p) { next(p).info["CFBundleVersion"] = b; }; };
    auto entries = [](Strings e) { return [e](P& p) { p.unzip.entries = e; }; };
    auto digest = [](char c) { return [c](P& p) { p.sha256.digests["zip bytes"] = std::string(64, c); }; };
    struct Row { const char* name; std::function<void(P&)> change; Text result; } rows[] = {
        {"plus sign", build("+42"), std::nullopt},
        {"both without identifier",
         [](P& p) {
             next(p).info.erase("CFBundleIdentifier");
             p.bundles.mainBundle.info.erase("CFBundleIdentifier");
         },
         std::nullopt},
        {"other entries beside the bundle", entries({"README.txt", "Nolar.app/"}), std::nullopt},
        {"unreadable archive", [](P& p) { p.sha256.digests.clear(); }, "Файл обновления повреждён."},
        {"other digest", digest('b'), mismatch},
        {"digest in capitals", digest('A'), mismatch},
        {"unpacking fails", [](P& p) { p.unzip.succeed = false; }, unpackFailed},
        {"no bundle", entries({"Nolar/", "README"}), unpackFailed},
        {"bundle in a subfolder", entries({"dist/", "dist/Nolar.app/"}), unpackFailed},
        {"suffix in capitals", entries({"Nolar.APP/"}), unpackFailed},
        {"bundle is not a folder (a link)", entries({"Nolar.app"}), unpackFailed},
        {"not a bundle", [](P& p) { p.bundles.others.clear(); }, notOurs},
        {"same build", build("27"), notOurs},
        {"lower build", build("-28"), notOurs},
        {"dotted build", build("1.2.3"), notOurs},
        {"blank before build", build(" 28"), notOurs},
        {"no build", [](P& p) { next(p).info.erase("CFBundleVersion"); }, notOurs},
        {"other identifier", [](P& p) { next(p).info["CFBundleIdentifier"] = "org.other"; }, notOurs},
        {"identifier only on one side", [](P& p) { next(p).info.erase("CFBundleIdentifier"); }, notOurs},
        {"script not written", [](P& p) { p.files.failWrite = true; }, "Не удалось подготовить установку."},
        {"script not started", [](P& p) { p.processes.canSpawn = false; }, "Не удалось запустить установку."},
    };
    for (const auto& row : rows) {
        Scene s;
        stage(s.p);
        row.change(s.p);
        EXPECT_EQ(install(*s.updater, zip), row.result) << row.name;
        EXPECT_EQ(s.p.processes.spawned.size(), row.result ? 0u : 1u) << row.name;
        EXPECT_EQ(s.p.app.terminations, row.result ? 0 : 1) << row.name;
        EXPECT_TRUE(s.p.files.files.count(zip)) << row.name << ": the application removes nothing";
    }
}

TEST_F(UpdaterInstall, AMismatchLogsBothDigests) {
    p.sha256.digests["zip bytes"] = std::string(64, 'b');
    install(*updater, zip);
    EXPECT_EQ(logged(), Strings{"sha mismatch: got " + std::string(64, 'b') + " want " + sha});
}

// A fresh Ed25519 key pair: the raw public key, and a signer producing the base64 text of a .sig file.
struct KeyPair {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                            EVP_PKEY_free};
    std::string publicKey() const {
        unsigned char raw[32];
        size_t n = sizeof raw;
        EVP_PKEY_get_raw_public_key(key.get(), raw, &n);
        return std::string(reinterpret_cast<char*>(raw), n);
    }
    std::string sign(const std::string& message) const {
        unsigned char sig[64], text[89];
        size_t n = sizeof sig;
        auto data = reinterpret_cast<const unsigned char*>(message.data());
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), EVP_MD_CTX_free};
        EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get());
        EVP_DigestSign(ctx.get(), sig, &n, data, message.size());
        EVP_EncodeBlock(text, sig, static_cast<int>(n));
        return reinterpret_cast<char*>(text);
    }
};

struct UpdaterSignature : UpdaterTest {
    KeyPair ours, other;
};

TEST_F(UpdaterSignature, OnlyAManifestSignedByTheBuildsKeyIsRead) {
    const std::string body = manifest(28).dump(), good = ours.sign(body);
    std::string flipped = good;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    struct Row { const char* name; std::optional<int> status; Text sig; bool offered; } rows[] = {
        {"signed, with blanks around", 200, "\n " + good + "\r\n", true},
        {"no signature file", 404, std::nullopt, false},
        {"signature fetch failed", std::nullopt, std::nullopt, false},
        {"signed by another key", 200, other.sign(body), false},
        {"manifest changed after signing", 200, ours.sign(body + " "), false},
        {"one character changed", 200, flipped, false},
        {"not base64", 200, std::string(86, '!') + "==", false},
        {"empty", 200, "", false},
        {"inner blank", 200, good.substr(0, 40) + " " + good.substr(40), false},
    };
    for (const auto& row : rows) {
        Scene s(ours.publicKey());
        s.updater->check(false);
        s.answer(200, body);
        EXPECT_TRUE(s.updater->isChecking()) << "in flight until the signature is in";
        ASSERT_EQ(s.p.http.sent.size(), 2u) << row.name;
        const auto& request = s.p.http.sent[1].request;
        EXPECT_EQ(std::tie(request.url, request.httpsOnly, request.maxBytes),
                  std::make_tuple(AppConfig::versionURL() + ".sig", true, uint64_t(1) << 20));
        s.answer(row.status, row.sig);
        EXPECT_FALSE(s.updater->isChecking()) << row.name;
        EXPECT_EQ(s.updater->isOfferVisible(), row.offered) << row.name;
    }
    auto lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "update: signature invalid"), 8);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "update check: remote=28 min=0 mine=27 manual=false"), 1)
        << "the one signed manifest";
}

TEST_F(UpdaterSignature, AManualCheckExplainsARefusedSignature) {
    auto u = std::make_shared<Updater>(p.services, ours.publicKey());
    u->check(true);
    answer(200, manifest(28).dump());
    answer(404, std::nullopt);
    EXPECT_EQ(std::tie(lastAlert().messageText, lastAlert().informativeText),
              std::make_tuple("Обновление недоступно", "Описание новой версии на сервере некорректно."));
}

TEST(UpdateSignatureText, OnlyTheCanonicalBase64OfSixtyFourBytesIsRead) {
    KeyPair key;
    std::string good = key.sign("m");
    ASSERT_TRUE(UpdateSignature::verify(key.publicKey(), "m", good));
    EXPECT_TRUE(UpdateSignature::verify(key.publicKey(), "m", "\t" + good + "\n"));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey(), "m", good.substr(0, 86)));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey(), "m", good + "AAAA"));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey().substr(1), "m", good));
    EXPECT_FALSE(UpdateSignature::verify("", "m", good));
}

} // namespace
