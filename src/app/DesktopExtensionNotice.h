#pragma once

#include "app/DesktopExtension.h"
#include "app/FormSection.h"

class QLabel;
class QPushButton;

namespace tarnell::app {

// The notice in the settings window while Tarnell's part inside the desktop does not
// run: it says what is missing and how it comes, with a button that turns it on
// where that is all it takes. Looks like the input access notice, and like it goes
// away the moment the part runs.
class DesktopExtensionNotice : public FormSection {
    Q_OBJECT
public:
    explicit DesktopExtensionNotice(DesktopExtension& extension, QWidget* parent = nullptr);
    ~DesktopExtensionNotice() override;

    [[nodiscard]] QLabel* title() const { return title_; }
    [[nodiscard]] QLabel* explanation() const { return explanation_; }
    [[nodiscard]] QPushButton* enableButton() const { return enable_; }

    // Shows the extension's current status.
    void refresh();

Q_SIGNALS:
    // The notice appeared, went or changed its text.
    void changed();

private:
    DesktopExtension& extension_;
    QLabel* title_;
    QLabel* explanation_;
    QPushButton* enable_;
};

} // namespace tarnell::app
