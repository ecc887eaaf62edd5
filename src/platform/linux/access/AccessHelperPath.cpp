#include "platform/linux/access/AccessHelperPath.h"

namespace tarnell::platform {

std::filesystem::path installedAccessHelperPath() {
    return TARNELL_ACCESS_HELPER_PATH;
}

} // namespace tarnell::platform
