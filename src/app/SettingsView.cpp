#include "app/SettingsView.h"

#include "app/AccessSettingsOpener.h"
#include "app/ChangeSignal.h"
#include "app/DesktopExtensionNotice.h"
#include "app/FormSection.h"
#include "app/NoticeRow.h"
#include "app/ShortcutListSection.h"
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnell::app {

namespace {

QString text(const char* source) {
    return QCoreApplication::translate("Tarnell", source);
}

QCheckBox* makeToggle(const char* title, const char* objectName, QWidget* parent) {
    auto* toggle = new QCheckBox(text(title), parent);
    toggle->setObjectName(QString::fromLatin1(objectName));
    return toggle;
}

} // namespace

SettingsView::SettingsView(BindingStore& store, engine::HyperKeyMonitor& monitor,
                           LoginItemService& loginItems, AccessSettingsOpener& accessSettings,
                           ApplicationCatalog& catalog, bool launchesAtLogin,
                           DesktopExtension* desktopExtension, QWidget* parent)
    : QWidget(parent), store_(store), monitor_(monitor),
      launchesAtLogin_(loginItems, launchesAtLogin),
      accessSection_(makeAccessSection(accessSettings)), behaviourSection_(makeBehaviourSection()),
      shortcutsSection_(new FormSection(text("Shortcuts"))),
      shortcutList_(new ShortcutListSection(store, catalog, shortcutsSection_)),
      storeChanges_(new ChangeSignal(store.changes(), this)),
      monitorChanges_(new ChangeSignal(monitor.changes(), this)) {
    setFixedWidth(kWidth);
    setMinimumHeight(kMinimumHeight);

    shortcutsSection_->addRow(shortcutList_);

    content_ = new QWidget();
    auto* sections = new QVBoxLayout(content_);
    sections->setContentsMargins(16, 16, 16, 16);
    sections->setSpacing(18);
    sections->addWidget(accessSection_);
    if (desktopExtension != nullptr) {
        desktopExtensionNotice_ = new DesktopExtensionNotice(*desktopExtension);
        sections->addWidget(desktopExtensionNotice_);
    }
    sections->addWidget(behaviourSection_);
    sections->addWidget(shortcutsSection_);
    sections->addStretch(1);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content_);
    // The scroll area hears of the form's new layout, but nothing above it does: the
    // view passes it on, so that a window sized by the view grows and shrinks with it.
    content_->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    // The toggle's value may also change without the user, when a refused change
    // is put back.
    launchesAtLogin_.setOnValueChanged([this](bool value) {
        const QSignalBlocker blocker(launchAtLogin_);
        launchAtLogin_->setChecked(value);
    });
    connect(launchAtLogin_, &QCheckBox::toggled, this,
            [this](bool checked) { launchesAtLogin_.setValue(checked); });
    connect(hidesFrontmostApp_, &QCheckBox::toggled, this,
            [this](bool checked) { store_.setHidesFrontmostApp(checked); });
    connect(quickTap_, &QCheckBox::toggled, this,
            [this](bool checked) { store_.setQuickTapTogglesCapsLock(checked); });
    connect(storeChanges_, &ChangeSignal::changed, this, &SettingsView::refresh);
    connect(monitorChanges_, &ChangeSignal::changed, this, &SettingsView::refresh);
    refresh();
}

FormSection* SettingsView::makeAccessSection(AccessSettingsOpener& accessSettings) {
    auto* section = new FormSection();
    section->setObjectName(QStringLiteral("accessSection"));
    accessNotice_ = new NoticeRow(
        text("Tarnell needs Accessibility access"),
        text("Allow Tarnell in Privacy & Security › Accessibility to use Caps Lock as the "
             "Hyper key."),
        text("Open Settings"), section);
    accessNotice_->icon()->setObjectName(QStringLiteral("accessIcon"));
    accessNotice_->button()->setObjectName(QStringLiteral("openSettingsButton"));
    connect(accessNotice_->button(), &QPushButton::clicked, this,
            [this, &accessSettings] { accessSettings.openAccessSettings(window()); });
    section->addRow(accessNotice_);
    return section;
}

FormSection* SettingsView::makeBehaviourSection() {
    auto* section = new FormSection(
        {}, text("Hold Caps Lock and press a key to open an app. Other keys are sent as ⌃⌥⇧⌘ + "
                 "key. Tap Caps Lock on its own to turn capitals on or off.\n\nMenu bar icon "
                 "hidden? Hold Caps Lock and press , or open Tarnell again to get back here."));
    section->setObjectName(QStringLiteral("behaviourSection"));
    launchAtLogin_ = makeToggle("Launch at login", "launchAtLogin", section);
    hidesFrontmostApp_ =
        makeToggle("Hide the app if it’s already in front", "hidesFrontmostApp", section);
    quickTap_ = makeToggle("Quick tap toggles Caps Lock", "quickTapTogglesCapsLock", section);
    section->addRow(launchAtLogin_);
    section->addRow(hidesFrontmostApp_);
    section->addRow(quickTap_);
    return section;
}

QSize SettingsView::sizeHint() const {
    // Tall enough for the whole form, so that a window that takes this size shows
    // every section; past most of the screen the form scrolls instead.
    const QLayout* sections = content_->layout();
    const int height = sections->hasHeightForWidth() ? sections->totalHeightForWidth(kWidth)
                                                     : sections->totalSizeHint().height();
    int limit = height;
    if (const QScreen* shown = screen()) {
        limit = shown->availableGeometry().height() * 4 / 5;
    }
    return {kWidth, std::max(kMinimumHeight, std::min(height, limit))};
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsView::refresh() {
    accessSection_->setVisible(!monitor_.isTrusted());

    const QSignalBlocker launchBlocker(launchAtLogin_);
    launchAtLogin_->setChecked(launchesAtLogin_.value());
    const QSignalBlocker hidesBlocker(hidesFrontmostApp_);
    hidesFrontmostApp_->setChecked(store_.hidesFrontmostApp());
    const QSignalBlocker quickTapBlocker(quickTap_);
    quickTap_->setChecked(store_.quickTapTogglesCapsLock());
}

QLabel* SettingsView::accessTitle() const {
    return accessNotice_->title();
}

QLabel* SettingsView::accessExplanation() const {
    return accessNotice_->explanation();
}

QPushButton* SettingsView::openSettingsButton() const {
    return accessNotice_->button();
}

std::vector<FormSection*> SettingsView::visibleSections() const {
    std::vector<FormSection*> sections;
    for (FormSection* section : {accessSection_, static_cast<FormSection*>(desktopExtensionNotice_),
                                 behaviourSection_, shortcutsSection_}) {
        if (section != nullptr && !section->isHidden()) {
            sections.push_back(section);
        }
    }
    return sections;
}

} // namespace tarnell::app
