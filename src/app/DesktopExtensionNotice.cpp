#include "app/DesktopExtensionNotice.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tarnell::app {
namespace {

QString text(const char* source) {
    return QCoreApplication::translate("Tarnell", source);
}

QLabel* makeText(const QString& content, QWidget* parent) {
    auto* label = new QLabel(content, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

DesktopExtensionNotice::DesktopExtensionNotice(DesktopExtension& extension, QWidget* parent)
    : FormSection({}, {}, parent), extension_(extension) {
    setObjectName(QStringLiteral("desktopExtensionSection"));
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    // The same look as the input access notice.
    auto* icon = new QLabel(row);
    icon->setPixmap(
        QIcon::fromTheme(QStringLiteral("dialog-warning"),
                         QIcon::fromTheme(QStringLiteral("dialog-warning-symbolic"),
                                          style()->standardIcon(QStyle::SP_MessageBoxWarning)))
            .pixmap(20));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);

    auto* texts = new QVBoxLayout();
    title_ = makeText(text("Tarnell needs its GNOME Shell extension"), row);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    texts->addWidget(title_);
    explanation_ = makeText({}, row);
    texts->addWidget(explanation_);
    layout->addLayout(texts, 1);

    enable_ = new QPushButton(text("Turn On"), row);
    enable_->setObjectName(QStringLiteral("enableExtensionButton"));
    layout->addWidget(enable_, 0, Qt::AlignVCenter);
    connect(enable_, &QPushButton::clicked, this, [this] { extension_.enable(); });
    addRow(row);

    extension_.setOnStatusChanged([this] { refresh(); });
    refresh();
}

DesktopExtensionNotice::~DesktopExtensionNotice() {
    extension_.setOnStatusChanged({});
}

void DesktopExtensionNotice::refresh() {
    const auto status = extension_.status();
    const bool wasHidden = isHidden();
    const QString before = explanation_->text();
    switch (status) {
    case DesktopExtension::Status::Running:
        break;
    case DesktopExtension::Status::Off:
        explanation_->setText(
            text("Turn on Tarnell’s extension to bring apps to the front and hide them."));
        break;
    case DesktopExtension::Status::NotLoaded:
        explanation_->setText(text("Log out and back in once, so that GNOME Shell loads "
                                   "Tarnell’s extension to bring apps to the front and hide "
                                   "them."));
        break;
    case DesktopExtension::Status::Failed:
        explanation_->setText(text("GNOME Shell could not start Tarnell’s extension. Install "
                                   "the Tarnell package made for this version of GNOME."));
        break;
    }
    enable_->setVisible(status == DesktopExtension::Status::Off);
    setHidden(status == DesktopExtension::Status::Running);
    if (isHidden() != wasHidden || explanation_->text() != before) {
        Q_EMIT changed();
    }
}

} // namespace tarnell::app
