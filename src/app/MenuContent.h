#pragma once

#include "app/ChangeSignal.h"
#include "bindings/AppBinding.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;

namespace tarnell {
class ApplicationDirectory;
class BindingStore;
} // namespace tarnell

namespace tarnell::engine {
class HyperKeyMonitor;
} // namespace tarnell::engine

namespace tarnell::app {

// The bindings in the order the menu lists them: by key, comparing the canonically
// composed forms code point by code point; equal keys keep their stored order.
std::vector<AppBinding> bindingsInKeyOrder(const std::vector<AppBinding>& bindings);

// "⇪ K   Name": the key in upper case and the application's display name without
// any ".app".
QString shortcutLineText(const AppBinding& binding, ApplicationDirectory& applications);

// The tray icon's menu: the access notice while input access is missing, one line
// per shortcut, then "Settings…" and "Quit Tarnell". Built again whenever the store
// or the monitor publishes a change, so it is current also while it is open. While
// it is open, Ctrl+, and Ctrl+Q choose the two commands.
class MenuContent : public QObject {
    Q_OBJECT
public:
    MenuContent(BindingStore& store, engine::HyperKeyMonitor& monitor,
                std::function<void()> showSettings, QObject* parent = nullptr);
    ~MenuContent() override;

    [[nodiscard]] QMenu* menu() const { return menu_.get(); }

    // Fills the menu from the current values; called on every published change.
    void rebuild();

    // Whether the commands carry their keyboard shortcuts (they do at first). A menu
    // that the desktop draws from its D-Bus description never passes keys on to
    // Tarnell, so there the shortcuts are dropped rather than shown doing nothing.
    void setShortcutsAvailable(bool available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    BindingStore& store_;
    engine::HyperKeyMonitor& monitor_;
    std::function<void()> showSettings_;
    std::unique_ptr<QMenu> menu_;
    QAction* settingsAction_;
    QAction* quitAction_;
    ChangeSignal storeChanges_;
    ChangeSignal monitorChanges_;
};

} // namespace tarnell::app
