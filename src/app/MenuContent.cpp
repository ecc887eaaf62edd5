#include "app/MenuContent.h"

#include "bindings/ApplicationDirectory.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "engine/HyperKeyMonitor.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QUrl>
#include <algorithm>

namespace tarnell::app {

namespace {

QKeySequence settingsShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_Comma);
}

QKeySequence quitShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_Q);
}

QString tarnellText(const char* text) {
    return QCoreApplication::translate("Tarnell", text);
}

std::u32string composedCodePoints(const std::string& key) {
    const QList<uint> ucs4 =
        QString::fromStdString(key).normalized(QString::NormalizationForm_C).toUcs4();
    return {ucs4.begin(), ucs4.end()};
}

// The file-system path of the application's location, also for a URL that is not a
// well-formed file URL (then the URL's own path, as the platform would take it).
std::string applicationPath(const std::string& appURL) {
    if (auto path = pathFromFileUrl(appURL)) {
        return *path;
    }
    return QUrl(QString::fromStdString(appURL)).path().toStdString();
}

} // namespace

std::vector<AppBinding> bindingsInKeyOrder(const std::vector<AppBinding>& bindings) {
    std::vector<std::pair<std::u32string, const AppBinding*>> keyed;
    keyed.reserve(bindings.size());
    for (const auto& binding : bindings) {
        keyed.emplace_back(composedCodePoints(binding.key), &binding);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<AppBinding> ordered;
    ordered.reserve(keyed.size());
    for (const auto& entry : keyed) {
        ordered.push_back(*entry.second);
    }
    return ordered;
}

QString shortcutLineText(const AppBinding& binding, ApplicationDirectory& applications) {
    const QString key = QString::fromStdString(binding.key).toUpper();
    const QString name = QString::fromStdString(
        withoutAppSuffixes(applications.displayNameAtPath(applicationPath(binding.appURL))));
    // The two-argument arg() fills both places in one pass, so a "%1" inside an
    // application's name stays as it is.
    return tarnellText("⇪ %1   %2").arg(key, name);
}

MenuContent::MenuContent(BindingStore& store, engine::HyperKeyMonitor& monitor,
                         std::function<void()> showSettings, QObject* parent)
    : QObject(parent), store_(store), monitor_(monitor), showSettings_(std::move(showSettings)),
      menu_(std::make_unique<QMenu>()), settingsAction_(new QAction(menu_.get())),
      quitAction_(new QAction(menu_.get())), storeChanges_(store.changes()),
      monitorChanges_(monitor.changes()) {
    menu_->setTitle(QStringLiteral("Tarnell"));

    settingsAction_->setText(tarnellText("Settings…"));
    settingsAction_->setShortcutVisibleInContextMenu(true);
    connect(settingsAction_, &QAction::triggered, this, [this] {
        if (showSettings_) {
            showSettings_();
        }
    });

    quitAction_->setText(tarnellText("Quit Tarnell"));
    quitAction_->setShortcutVisibleInContextMenu(true);
    // Quitting runs the same ending as a termination signal: the event loop ends and
    // the delegate stops the engine on the way out.
    connect(quitAction_, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit,
            Qt::QueuedConnection);

    setShortcutsAvailable(true);
    // An open menu takes every key for itself, and an action's shortcut only works
    // in a window that it belongs to; the menu passes the two on itself.
    menu_->installEventFilter(this);

    connect(&storeChanges_, &ChangeSignal::changed, this, &MenuContent::rebuild);
    connect(&monitorChanges_, &ChangeSignal::changed, this, &MenuContent::rebuild);
    rebuild();
}

MenuContent::~MenuContent() = default;

void MenuContent::setShortcutsAvailable(bool available) {
    settingsAction_->setShortcut(available ? settingsShortcut() : QKeySequence());
    quitAction_->setShortcut(available ? quitShortcut() : QKeySequence());
}

bool MenuContent::eventFilter(QObject* watched, QEvent* event) {
    if (watched != menu_.get() || event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* command : {settingsAction_, quitAction_}) {
        if (!command->shortcut().isEmpty() &&
            command->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            // As when the command is clicked: the menu closes, then the command runs.
            menu_->hide();
            command->trigger();
            return true;
        }
    }
    return false;
}

void MenuContent::rebuild() {
    // Removes every item; the two commands belong to the menu and are added back,
    // the text lines are deleted.
    for (QAction* action : menu_->actions()) {
        menu_->removeAction(action);
        if (action != settingsAction_ && action != quitAction_) {
            delete action;
        }
    }

    auto addTextLine = [this](const QString& text) {
        auto* line = new QAction(text, menu_.get());
        line->setEnabled(false);
        menu_->addAction(line);
    };

    if (!monitor_.isTrusted()) {
        addTextLine(tarnellText("Waiting for Accessibility access…"));
        menu_->addSeparator();
    }
    const auto ordered = bindingsInKeyOrder(store_.bindings());
    for (const auto& binding : ordered) {
        addTextLine(shortcutLineText(binding, store_.applications()));
    }
    if (!ordered.empty()) {
        menu_->addSeparator();
    }
    menu_->addAction(settingsAction_);
    menu_->addAction(quitAction_);
}

} // namespace tarnell::app
