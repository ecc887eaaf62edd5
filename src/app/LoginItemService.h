#pragma once

namespace tarnell::app {

// The registration that starts Tarnell when the user logs in. The values keep the
// numbering that status reports elsewhere use; only `enabled` means "in force".
enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

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
