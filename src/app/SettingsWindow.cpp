#include "app/SettingsWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QVBoxLayout>

namespace tarnell::app {

SettingsWindow::SettingsWindow(std::unique_ptr<QWidget> content, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QCoreApplication::translate("Tarnell", "Tarnell Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content.release());
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    // An accepted close would also destroy the native window, and the next showing
    // would be a new window to the desktop; refusing it and hiding keeps this one.
    event->ignore();
    hide();
}

} // namespace tarnell::app
