#include "app/FormSection.h"

#include "app/Contrast.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace tarnell::app {

namespace {

QLabel* makeCaption(const QString& text, const char* objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setContentsMargins(10, 0, 10, 0);
    return label;
}

} // namespace

FormSection::FormSection(const QString& header, const QString& footer, QWidget* parent)
    : QWidget(parent), group_(new QFrame(this)), rows_(new QVBoxLayout(group_)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    if (!header.isEmpty()) {
        header_ = makeCaption(header, "sectionHeader", this);
        QFont font = header_->font();
        font.setBold(true);
        header_->setFont(font);
        layout->addWidget(header_);
    }

    group_->setObjectName(QStringLiteral("formGroup"));
    group_->setStyleSheet(QStringLiteral("QFrame#formGroup { background: palette(base); "
                                         "border: 1px solid palette(midlight); "
                                         "border-radius: 8px; }"));
    rows_->setContentsMargins(10, 6, 10, 6);
    rows_->setSpacing(6);
    layout->addWidget(group_);

    if (!footer.isEmpty()) {
        footer_ = makeCaption(footer, "sectionFooter", this);
        layout->addWidget(footer_);
    }
    colourCaptions();
}

void FormSection::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        colourCaptions();
    }
}

void FormSection::colourCaptions() {
    // Captions are secondary to the group they describe, yet must stay readable in
    // light and dark themes alike; the colour follows the section's palette.
    const QColor colour = secondaryTextColor(palette());
    for (QLabel* caption : {header_, footer_}) {
        if (caption && caption->palette().color(QPalette::WindowText) != colour) {
            QPalette captionPalette = caption->palette();
            captionPalette.setColor(QPalette::WindowText, colour);
            caption->setPalette(captionPalette);
        }
    }
}

void FormSection::addRow(QWidget* row) {
    if (rows_->count() > 0) {
        auto* rule = new QFrame(group_);
        rule->setFrameShape(QFrame::HLine);
        rule->setFrameShadow(QFrame::Plain);
        rule->setStyleSheet(QStringLiteral("color: palette(midlight);"));
        rows_->addWidget(rule);
    }
    rows_->addWidget(row);
}

QString FormSection::headerText() const {
    return header_ ? header_->text() : QString();
}

QString FormSection::footerText() const {
    return footer_ ? footer_->text() : QString();
}

} // namespace tarnell::app
