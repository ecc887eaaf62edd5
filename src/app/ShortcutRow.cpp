#include "app/ShortcutRow.h"

#include "app/ApplicationCatalog.h"
#include "app/ElidedLabel.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QToolButton>

namespace tarnell::app {

namespace {

constexpr int kIconSize = 20;

// The file system path of a binding's URL; a URL that is not a file URL is looked
// up as it stands, which finds nothing and so shows the generic icon.
std::string pathOf(const std::string& appURL) {
    return pathFromFileUrl(appURL).value_or(appURL);
}

QString keyTitle(const std::string& key) {
    return QStringLiteral("⇪ ") + QString::fromStdString(key).toUpper();
}

QIcon removeIcon(const QStyle* style) {
    return QIcon::fromTheme(
        QStringLiteral("user-trash"),
        QIcon::fromTheme(QStringLiteral("edit-delete"), style->standardIcon(QStyle::SP_TrashIcon)));
}

} // namespace

ShortcutRow::ShortcutRow(BindingStore& store, ApplicationCatalog& catalog, Uuid id,
                         std::size_t occurrence, QWidget* parent)
    : QWidget(parent), store_(store), catalog_(catalog), id_(id), occurrence_(occurrence),
      icon_(new QLabel(this)), name_(new ElidedLabel(this)), keyPicker_(new QComboBox(this)),
      removeButton_(new QToolButton(this)),
      removeAction_(new QAction(QCoreApplication::translate("Tarnell", "Remove Shortcut"), this)) {
    setObjectName(QStringLiteral("shortcutRow"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    icon_->setFixedSize(kIconSize, kIconSize);
    layout->addWidget(icon_);
    // A long name is shortened to fit, never widening the row.
    layout->addWidget(name_);
    layout->addStretch(1);

    keyPicker_->setObjectName(QStringLiteral("keyPicker"));
    keyPicker_->setAccessibleName(QCoreApplication::translate("Tarnell", "Key"));
    keyPicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    keyPicker_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(keyPicker_);

    removeAction_->setIcon(removeIcon(style()));
    removeAction_->setToolTip(removeAction_->text());
    removeButton_->setObjectName(QStringLiteral("removeButton"));
    removeButton_->setDefaultAction(removeAction_);
    removeButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    removeButton_->setAutoRaise(true);
    layout->addWidget(removeButton_);

    connect(keyPicker_, &QComboBox::activated, this, &ShortcutRow::chooseKey);
    connect(removeAction_, &QAction::triggered, this, &ShortcutRow::remove);
}

void ShortcutRow::refresh(const AppBinding& binding) {
    const std::string path = pathOf(binding.appURL);
    const QIcon icon = catalog_.iconForPath(QString::fromStdString(path));
    icon_->setPixmap(
        (icon.isNull() ? style()->standardIcon(QStyle::SP_FileIcon) : icon).pixmap(kIconSize));
    name_->setText(
        QString::fromStdString(withoutAppSuffixes(store_.applications().displayNameAtPath(path))));

    // Rebuilt only when the options differ, so an open or focused picker is left alone.
    const std::vector<std::string> keys = store_.availableKeys(binding.key);
    bool same = keyPicker_->count() == static_cast<int>(keys.size());
    for (int i = 0; same && i < keyPicker_->count(); ++i) {
        same =
            keyPicker_->itemData(i).toString().toStdString() == keys[static_cast<std::size_t>(i)];
    }
    const QSignalBlocker blocker(keyPicker_);
    if (!same) {
        keyPicker_->clear();
        for (const std::string& key : keys) {
            keyPicker_->addItem(keyTitle(key), QString::fromStdString(key));
        }
    }
    // A stored key that is none of the options selects nothing.
    int selected = -1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == binding.key) {
            selected = static_cast<int>(i);
            break;
        }
    }
    keyPicker_->setCurrentIndex(selected);
}

const AppBinding* ShortcutRow::currentBinding() const {
    std::size_t seen = 0;
    for (const AppBinding& binding : store_.bindings()) {
        if (binding.id == id_ && seen++ == occurrence_) {
            return &binding;
        }
    }
    return nullptr;
}

void ShortcutRow::chooseKey(int index) {
    const AppBinding* binding = currentBinding();
    if (!binding || index < 0) {
        return;
    }
    std::string key = keyPicker_->itemData(index).toString().toStdString();
    if (key == binding->key) {
        return;
    }
    std::vector<AppBinding> bindings = store_.bindings();
    const auto position = static_cast<std::size_t>(binding - store_.bindings().data());
    bindings[position].key = std::move(key);
    store_.setBindings(std::move(bindings));
}

void ShortcutRow::remove() {
    if (const AppBinding* binding = currentBinding()) {
        // removeBinding reads its argument while it changes the list.
        const AppBinding record = *binding;
        store_.removeBinding(record);
    }
}

void ShortcutRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(removeAction_);
    menu.exec(event->globalPos());
}

} // namespace tarnell::app
