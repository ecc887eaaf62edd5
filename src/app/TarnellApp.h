#pragma once

#include "app/AppDelegate.h"

#include <QObject>
#include <memory>

namespace tarnell::app {

class MenuContent;
class StatusIcon;

// The application: its one delegate and its tray icon with the menu. Made once the
// QApplication exists; the engine starts when the event loop runs and stops when it
// ends, whatever ends it.
class TarnellApp : public QObject {
    Q_OBJECT
public:
    explicit TarnellApp(AppDelegate::Dependencies dependencies, QObject* parent = nullptr);
    ~TarnellApp() override;

    [[nodiscard]] AppDelegate& appDelegate() { return *appDelegate_; }
    [[nodiscard]] MenuContent& menuContent() { return *menuContent_; }
    [[nodiscard]] StatusIcon& statusIcon() { return *statusIcon_; }

private:
    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<MenuContent> menuContent_;
    std::unique_ptr<StatusIcon> statusIcon_;
};

} // namespace tarnell::app
