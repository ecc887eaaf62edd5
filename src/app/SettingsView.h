#pragma once

#include "app/LaunchAtLoginToggle.h"

#include <QWidget>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tarnell {
class BindingStore;
}
namespace tarnell::engine {
class HyperKeyMonitor;
}

namespace tarnell::app {

class AccessSettingsOpener;
class ApplicationCatalog;
class ChangeSignal;
class DesktopExtension;
class DesktopExtensionNotice;
class FormSection;
class NoticeRow;
class ShortcutListSection;

// The content of the settings window: the input access notice while access is
// missing, the desktop extension's notice while it does not run, the three
// behaviour toggles with the instructions, and the shortcuts.
// It keeps no copy of the store's or the monitor's data: it shows their current
// values after every change they announce, and each toggle writes straight into
// the store.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 460;
    static constexpr int kMinimumHeight = 360;

    SettingsView(BindingStore& store, engine::HyperKeyMonitor& monitor,
                 LoginItemService& loginItems, AccessSettingsOpener& accessSettings,
                 ApplicationCatalog& catalog, bool launchesAtLogin,
                 DesktopExtension* desktopExtension = nullptr, QWidget* parent = nullptr);

    // The sections shown now, top to bottom.
    [[nodiscard]] std::vector<FormSection*> visibleSections() const;
    [[nodiscard]] FormSection* accessSection() const { return accessSection_; }
    // nullptr where the desktop needs no extension.
    [[nodiscard]] DesktopExtensionNotice* desktopExtensionNotice() const {
        return desktopExtensionNotice_;
    }
    [[nodiscard]] FormSection* behaviourSection() const { return behaviourSection_; }
    [[nodiscard]] FormSection* shortcutsSection() const { return shortcutsSection_; }

    [[nodiscard]] NoticeRow* accessNotice() const { return accessNotice_; }
    [[nodiscard]] QLabel* accessTitle() const;
    [[nodiscard]] QLabel* accessExplanation() const;
    [[nodiscard]] QPushButton* openSettingsButton() const;
    [[nodiscard]] QCheckBox* launchAtLoginToggle() const { return launchAtLogin_; }
    [[nodiscard]] QCheckBox* hidesFrontmostAppToggle() const { return hidesFrontmostApp_; }
    [[nodiscard]] QCheckBox* quickTapToggle() const { return quickTap_; }
    [[nodiscard]] ShortcutListSection* shortcutList() const { return shortcutList_; }

    [[nodiscard]] bool launchesAtLogin() const { return launchesAtLogin_.value(); }

    // Fixed width; the height of the whole form, within limits.
    [[nodiscard]] QSize sizeHint() const override;

    // Shows the current values of the store and the monitor.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FormSection* makeAccessSection(AccessSettingsOpener& accessSettings);
    FormSection* makeBehaviourSection();

    BindingStore& store_;
    engine::HyperKeyMonitor& monitor_;
    LaunchAtLoginToggle launchesAtLogin_;
    NoticeRow* accessNotice_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QCheckBox* hidesFrontmostApp_ = nullptr;
    QCheckBox* quickTap_ = nullptr;
    QWidget* content_ = nullptr;
    FormSection* accessSection_;
    DesktopExtensionNotice* desktopExtensionNotice_ = nullptr;
    FormSection* behaviourSection_;
    FormSection* shortcutsSection_;
    ShortcutListSection* shortcutList_;
    ChangeSignal* storeChanges_;
    ChangeSignal* monitorChanges_;
};

} // namespace tarnell::app
