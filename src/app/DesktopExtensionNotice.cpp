#include "app/DesktopExtensionNotice.h"

#include "app/NoticeRow.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

namespace tarnell::app {
namespace {

QString text(const char* source) {
    return QCoreApplication::translate("Tarnell", source);
}

} // namespace

DesktopExtensionNotice::DesktopExtensionNotice(DesktopExtension& extension, QWidget* parent)
    : FormSection({}, {}, parent), extension_(extension),
      row_(new NoticeRow(text("Tarnell needs its GNOME Shell extension"), {}, text("Turn On"),
                         this)) {
    setObjectName(QStringLiteral("desktopExtensionSection"));
    row_->button()->setObjectName(QStringLiteral("enableExtensionButton"));
    connect(row_->button(), &QPushButton::clicked, this, [this] { extension_.enable(); });
    addRow(row_);
    extension_.setOnStatusChanged([this] { refresh(); });
    refresh();
}

DesktopExtensionNotice::~DesktopExtensionNotice() {
    extension_.setOnStatusChanged({});
}

QLabel* DesktopExtensionNotice::title() const {
    return row_->title();
}

QLabel* DesktopExtensionNotice::explanation() const {
    return row_->explanation();
}

QPushButton* DesktopExtensionNotice::enableButton() const {
    return row_->button();
}

void DesktopExtensionNotice::refresh() {
    const auto status = extension_.status();
    switch (status) {
    case DesktopExtension::Status::Running:
        break;
    case DesktopExtension::Status::Off:
        row_->explanation()->setText(
            text("Turn on Tarnell’s extension to bring apps to the front and hide them."));
        break;
    case DesktopExtension::Status::NotLoaded:
        row_->explanation()->setText(text("Log out and back in once, so that GNOME Shell loads "
                                          "Tarnell’s extension to bring apps to the front and "
                                          "hide them."));
        break;
    case DesktopExtension::Status::Failed:
        row_->explanation()->setText(text("GNOME Shell could not start Tarnell’s extension. "
                                          "Install the Tarnell package made for this version "
                                          "of GNOME."));
        break;
    }
    row_->button()->setVisible(status == DesktopExtension::Status::Off);
    // The form follows the sections shown by itself.
    setHidden(status == DesktopExtension::Status::Running);
}

} // namespace tarnell::app
