#pragma once

#include "bindings/AppBinding.h"

#include <QWidget>
#include <cstddef>

class QAction;
class QComboBox;
class QLabel;
class QToolButton;

namespace tarnell {
class BindingStore;
}

namespace tarnell::app {

class ApplicationCatalog;
class ElidedLabel;

// One shortcut in the settings form: the application's icon and name, the picker of
// its key and the button that removes it. The row knows which element of the store's
// list it stands for (its id, and which of the elements with that id) and reads
// everything else from the store when it is refreshed or used.
class ShortcutRow : public QWidget {
    Q_OBJECT
public:
    ShortcutRow(BindingStore& store, ApplicationCatalog& catalog, Uuid id, std::size_t occurrence,
                QWidget* parent = nullptr);

    // Shows the current state of this row's element.
    void refresh(const AppBinding& binding);

    [[nodiscard]] const Uuid& bindingId() const { return id_; }
    [[nodiscard]] std::size_t occurrence() const { return occurrence_; }

    [[nodiscard]] QLabel* iconLabel() const { return icon_; }
    [[nodiscard]] ElidedLabel* nameLabel() const { return name_; }
    [[nodiscard]] QComboBox* keyPicker() const { return keyPicker_; }
    [[nodiscard]] QToolButton* removeButton() const { return removeButton_; }
    // The action behind both the button and the row's context menu.
    [[nodiscard]] QAction* removeAction() const { return removeAction_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // This row's element in the store's list right now, or nullptr when it is gone.
    [[nodiscard]] const AppBinding* currentBinding() const;
    void chooseKey(int index);
    void remove();

    BindingStore& store_;
    ApplicationCatalog& catalog_;
    const Uuid id_;
    const std::size_t occurrence_;
    QLabel* icon_;
    ElidedLabel* name_;
    QComboBox* keyPicker_;
    QToolButton* removeButton_;
    QAction* removeAction_;
};

} // namespace tarnell::app
