#pragma once
// The shared fixture of the updater's tests: a fake platform, a main window, a notifier, and
// access to the updater's own steps.
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "Log.h"
#include "Notifier.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"

class UpdaterTest : public ::testing::Test {
protected:
    fakes::FakePlatform p;
    std::shared_ptr<Notifier> notifier = Notifier::create(p.notifications, p.queue);
    std::shared_ptr<Updater> updater = std::make_shared<Updater>(p.services);
    std::shared_ptr<fakes::FakeWindow> window = std::make_shared<fakes::FakeWindow>();
    std::string sha = std::string(64, 'a');
    std::size_t logStart = 0;

    void SetUp() override {
        window->visible = true;
        updater->window = window;
        updater->notifier = notifier;
        Log::flush();
        logStart = readLog().size();
    }

    // The updater's own steps.
    void offer(const std::string& name, const std::string& notes, bool critical) {
        updater->offer(name, notes, "https://" + AppConfig::serviceHost() + "/u.zip", sha, critical);
    }
    void download() { download(*updater, sha); }
    static void download(Updater& u, const std::string& sha) {
        u.download("https://" + AppConfig::serviceHost() + "/u.zip", sha, "1.5");
    }
    bool writableLocation() { return updater->writableLocation(); }
    std::optional<std::string> install(const std::string& zip) { return updater->install(zip, sha); }
    bool progressShown() const { return updater->progressPanel != nullptr; }
    void downloaded(const std::optional<std::string>& zip) { updater->downloaded(zip, std::nullopt, sha); }
    static std::optional<std::string> install(Updater& u, const std::string& zip, const std::string& sha) {
        return u.install(zip, sha);
    }

    // Answers the last manifest request.
    void answer(std::optional<int> status, std::optional<std::string> body, std::optional<std::string> error = {}) {
        auto completion = std::move(p.http.sent.back().completion);
        completion({status, std::move(body), std::move(error)});
    }
    void answerManifest(const nlohmann::json& manifest) { answer(200, manifest.dump()); }
    static nlohmann::json manifest(int64_t build, int64_t minBuild = 0, const std::string& notes = "") {
        return {{"build", build}, {"minBuild", minBuild}, {"versionName", "1.5"},
                {"url", "https://" + AppConfig::serviceHost() + "/u.zip"}, {"sha256", std::string(64, 'A')},
                {"notes", notes}};
    }

    static std::string readLog() {
        std::ifstream in(Log::path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The messages logged since the test began, without timestamps.
    std::vector<std::string> logged() const {
        Log::flush();
        std::istringstream lines(readLog().substr(logStart));
        std::vector<std::string> out;
        for (std::string line; std::getline(lines, line);) out.push_back(line.size() > 21 ? line.substr(21) : "");
        return out;
    }

    const fakes::ShownAlert& lastAlert() const { return p.dialogs.alerts.back(); }
    std::pair<std::string, std::string> lastAlertTexts() const {
        return {lastAlert().spec.messageText, lastAlert().spec.informativeText};
    }
};
