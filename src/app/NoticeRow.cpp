#include "app/NoticeRow.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tarnell::app {

namespace {

constexpr int kIconSize = 20;

QIcon warningIcon(const QStyle* style) {
    return QIcon::fromTheme(QStringLiteral("dialog-warning"),
                            QIcon::fromTheme(QStringLiteral("dialog-warning-symbolic"),
                                             style->standardIcon(QStyle::SP_MessageBoxWarning)));
}

QLabel* makeText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

NoticeRow::NoticeRow(const QString& title, const QString& explanation, const QString& buttonText,
                     QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), title_(makeText(title, this)),
      explanation_(makeText(explanation, this)), button_(new QPushButton(buttonText, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    icon_->setPixmap(warningIcon(style()).pixmap(kIconSize));
    icon_->setAlignment(Qt::AlignTop);
    layout->addWidget(icon_);

    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    auto* texts = new QVBoxLayout();
    texts->addWidget(title_);
    texts->addWidget(explanation_);
    layout->addLayout(texts, 1);

    layout->addWidget(button_, 0, Qt::AlignVCenter);
}

} // namespace tarnell::app
