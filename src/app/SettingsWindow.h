#pragma once

#include <QWidget>
#include <memory>

namespace tarnell::app {

// The settings window around the settings form. It takes the form's size and follows
// it, and the user cannot resize it. Closing it only hides it: the window, its native
// window and the form with its state stay, so the next request shows the very same
// window where the user left it.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(std::unique_ptr<QWidget> content, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tarnell::app
