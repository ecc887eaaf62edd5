#pragma once

class QCoreApplication;

namespace tarnell::app {

// Installs the built-in English wording for Linux: the texts that name where access
// is granted, the tray icon and the modifier keys read as they do on a Linux desktop;
// every other text shows as written. Call once, before any window is made.
// Returns false when the catalogue could not be loaded (the texts then show as written).
bool installLinuxWording(QCoreApplication& application);

} // namespace tarnell::app
