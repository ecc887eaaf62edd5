#pragma once

#include "bindings/Uuid.h"

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QPushButton;
class QVBoxLayout;

namespace tarnell {
class BindingStore;
}

namespace tarnell::app {

class ApplicationCatalog;
class ChangeSignal;
class ShortcutRow;

// The rows of the "Shortcuts" section, in the store's order, and the "Add App…"
// button below them. Rows are kept per element and updated in place after every
// change of the store, so focus and scroll position survive edits.
class ShortcutListSection : public QWidget {
    Q_OBJECT
public:
    // Asks the user for applications; returns their file URLs in the order to add
    // them, or nothing when the user cancelled.
    using Chooser = std::function<std::vector<std::string>(QWidget* parent)>;

    ShortcutListSection(BindingStore& store, ApplicationCatalog& catalog,
                        QWidget* parent = nullptr);

    // Replaces the application chooser (the default shows AppChooserDialog).
    void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

    // The rows in the order shown.
    [[nodiscard]] std::vector<ShortcutRow*> rows() const;
    [[nodiscard]] QPushButton* addButton() const { return addButton_; }

    // Shows the store's current list.
    void refresh();

private:
    void addApps();

    using RowKey = std::pair<Uuid, std::size_t>; // id, and which element with that id
    BindingStore& store_;
    ApplicationCatalog& catalog_;
    Chooser chooser_;
    QVBoxLayout* rowsLayout_;
    QPushButton* addButton_;
    std::map<RowKey, ShortcutRow*> rowsByKey_;
    ChangeSignal* storeChanges_;
};

} // namespace tarnell::app
