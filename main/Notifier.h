#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

// The one wrapper around the desktop's notification service.
class Notifier : public std::enable_shared_from_this<Notifier> {
public:
    static std::shared_ptr<Notifier> create(platform::NotificationCenter& center, platform::MainQueue& queue);

    // The click handler: receives the clicked notification's identifier, on the main thread.
    std::function<void(const std::string&)> onClick;

    // Calls back once, on the main thread, with "granted", "denied" or "default".
    virtual void currentPermission(std::function<void(const std::string&)> completion);
    virtual void requestPermission(std::function<void(const std::string&)> completion);
    virtual void show(const std::string& id, const std::string& title, const std::string& body, const std::string& tag);

    static std::string permissionState(platform::AuthorizationStatus status);

    // The page's notifications live apart from the application's own ("dl:", "dlerr-", "upd:"):
    // whatever id a page chooses, it can neither replace one of ours nor make a click on its
    // notification act as one of ours.
    static std::string pageIdentifier(const std::string& pageId);
    static std::optional<std::string> pageIdOf(const std::string& identifier); // nullopt: one of ours

    virtual ~Notifier() = default;

protected:
    Notifier(platform::NotificationCenter& center, platform::MainQueue& queue);

private:
    platform::NotificationCenter& center;
    platform::MainQueue& queue;
};
