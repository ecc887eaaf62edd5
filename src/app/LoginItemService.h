#pragma once

namespace tarnell::app {

// The registration that starts Tarnell when the user logs in; only `enabled` means
// "in force". notFound: there is no readable registration.
enum class LoginItemStatus { notRegistered, enabled, notFound };

class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    virtual LoginItemStatus status() = 0;
    // true when Tarnell now starts at login; false when that could not be arranged.
    virtual bool registerItem() = 0;
    // true when Tarnell no longer starts at login; false when that could not be arranged.
    virtual bool unregisterItem() = 0;
};

} // namespace tarnell::app
