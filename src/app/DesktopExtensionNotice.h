#pragma once

#include "app/DesktopExtension.h"
#include "app/FormSection.h"

class QLabel;
class QPushButton;

namespace tarnell::app {

class NoticeRow;

// The notice in the settings window while Tarnell's part inside the desktop does not
// run: it says what is missing and how it comes, with a button that turns it on
// where that is all it takes. It looks like the input access notice and, like it,
// goes away the moment what it asks for is there.
class DesktopExtensionNotice : public FormSection {
    Q_OBJECT
public:
    explicit DesktopExtensionNotice(DesktopExtension& extension, QWidget* parent = nullptr);
    ~DesktopExtensionNotice() override;

    [[nodiscard]] QLabel* title() const;
    [[nodiscard]] QLabel* explanation() const;
    [[nodiscard]] QPushButton* enableButton() const;

    // Shows the extension's current status.
    void refresh();

private:
    DesktopExtension& extension_;
    NoticeRow* row_;
};

} // namespace tarnell::app
