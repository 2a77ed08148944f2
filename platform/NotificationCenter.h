#pragma once
#include <functional>
#include <optional>
#include <string>

namespace platform {

enum class AuthorizationStatus { NotDetermined, Denied, Authorized, Provisional, Ephemeral };

struct NotificationRequest {
    std::string identifier;   // also the user info's "id"
    std::string title;
    std::string body;
    std::optional<std::string> threadIdentifier;
};

// The desktop's notification service. Completions may arrive on any thread.
class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual void getAuthorizationStatus(std::function<void(AuthorizationStatus)> completion) = 0;
    virtual void requestAuthorization(std::function<void(bool granted, std::optional<std::string> error)> completion) = 0;
    virtual void add(const NotificationRequest& request, std::function<void(std::optional<std::string> error)> completion) = 0;
    // The user clicked a notification; the argument is its user info's "id", if any.
    virtual void setResponseHandler(std::function<void(std::optional<std::string> id)> handler) = 0;
};

} // namespace platform
