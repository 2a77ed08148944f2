#include "Notifier.h"
#include "Log.h"

using platform::AuthorizationStatus;

std::shared_ptr<Notifier> Notifier::create(platform::NotificationCenter& center, platform::MainQueue& queue) {
    std::shared_ptr<Notifier> notifier(new Notifier(center, queue));
    std::weak_ptr<Notifier> weak = notifier;
    // Every response counts as a click; the handler runs on the main thread.
    center.setResponseHandler([weak, &queue](std::optional<std::string> id) {
        queue.async([weak, id = id.value_or("")] {
            if (auto self = weak.lock(); self && self->onClick) self->onClick(id);
        });
    });
    return notifier;
}

Notifier::Notifier(platform::NotificationCenter& center, platform::MainQueue& queue) : center(center), queue(queue) {}

std::string Notifier::permissionState(AuthorizationStatus status) {
    switch (status) {
    case AuthorizationStatus::Authorized:
    case AuthorizationStatus::Provisional:
        return "granted";
    case AuthorizationStatus::Denied:
        return "denied";
    default:
        return "default";
    }
}

namespace {
constexpr std::string_view pagePrefix = "page:";
} // namespace

std::string Notifier::pageIdentifier(const std::string& pageId) { return std::string(pagePrefix) + pageId; }

std::optional<std::string> Notifier::pageIdOf(const std::string& identifier) {
    if (identifier.rfind(pagePrefix, 0) != 0) return std::nullopt;
    return identifier.substr(pagePrefix.size());
}

void Notifier::currentPermission(std::function<void(const std::string&)> completion) {
    auto& q = queue;
    center.getAuthorizationStatus([&q, completion = std::move(completion)](AuthorizationStatus status) {
        q.async([completion, state = permissionState(status)] { completion(state); });
    });
}

void Notifier::requestPermission(std::function<void(const std::string&)> completion) {
    auto self = shared_from_this();
    center.requestAuthorization([self, completion = std::move(completion)](bool granted, std::optional<std::string> error) {
        Log::write(std::string("notify permission granted=") + (granted ? "true" : "false") +
                   " error=" + error.value_or("nil"));
        // The state delivered is what the settings say after the request, not the yes/no answer.
        self->currentPermission(completion);
    });
}

void Notifier::show(const std::string& id, const std::string& title, const std::string& body, const std::string& tag) {
    platform::NotificationRequest request{id, title, body, std::nullopt};
    if (!tag.empty()) request.threadIdentifier = tag;
    center.add(request, [](std::optional<std::string> error) {
        if (error) Log::write("notify add error: " + *error);
    });
}
