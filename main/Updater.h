#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <nlohmann/json_fwd.hpp>
#include "platform/Platform.h"

class Notifier;

// Keeps the application up to date from the service's version manifest.
class Updater : public std::enable_shared_from_this<Updater> {
public:
    // manifestKey: the raw Ed25519 key that must have signed every manifest; empty: unsigned manifests.
    explicit Updater(platform::Platform& platform, std::string manifestKey = "");
    virtual ~Updater() = default;

    // The main window; alerts attach to it. Set by the main window controller.
    std::weak_ptr<platform::Window> window;
    // Used for update notifications; set by the application delegate at launch.
    std::shared_ptr<Notifier> notifier;

    // Schedules the automatic checks: 8 s from now, then every 1800 s.
    virtual void start();
    // One check; manual when the user asked for it.
    virtual void check(bool manual);

    bool isChecking() const { return checking; }
    bool isOfferVisible() const { return offerVisible; }
    int64_t lastNotified() const { return lastNotifiedBuild; }

private:
    friend class UpdaterTest;

    // UpdaterCheck.cpp
    void received(const platform::HttpResponse& response, bool manual);
    void checkSignature(std::string manifest, nlohmann::json parsed, bool manual);
    void handle(const nlohmann::json& manifest, bool manual);
    void announce(int64_t build, const std::string& name, const std::string& notes);
    // Updater.cpp: an informational alert with one "OK" button.
    void info(const std::string& title, const std::string& detail);
    // UpdaterOffer.cpp
    void offer(const std::string& name, const std::string& notes, const std::string& url, const std::string& sha,
               bool critical);
    void answerOffer(int response, const std::string& name, const std::string& url, const std::string& sha,
                     bool critical);
    void download(const std::string& url, const std::string& sha, const std::string& name);
    std::optional<std::string> stageDownload(const platform::DownloadResult& result);
    void downloaded(const std::optional<std::string>& archive, const std::optional<std::string>& error,
                    const std::string& sha);
    bool writableLocation();
    void closeProgress();
    // UpdaterInstall.cpp: nullopt when the installer runs and the application is ending;
    // otherwise the reason, for the user.
    std::optional<std::string> install(const std::string& zip, const std::string& sha);
    std::optional<std::string> unpack(const std::string& zip, std::string& newBundle);
    std::optional<int64_t> validBuildOf(const std::string& bundle) const;

    // Every request of the updater: https only, also after redirects, and a body of at most maxBytes.
    static platform::HttpRequest secureRequest(const std::string& url, double timeoutSeconds, uint64_t maxBytes);
    // Brings the main window forward and activates the application when there is a window.
    std::shared_ptr<platform::Window> frontWindow();

    platform::Platform& platform;
    const std::string manifestKey;
    std::unique_ptr<platform::Timer> timer;
    bool checking = false;
    bool offerVisible = false;
    int64_t lastNotifiedBuild = 0;
    std::unique_ptr<platform::ProgressPanel> progressPanel;
};
