#include "app/AppChooserDialog.h"

#include "app/ApplicationCatalog.h"
#include "app/ChangeSignal.h"
#include "bindings/FileUrl.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnell::app {

namespace {

QString text(const char* source) {
    return QCoreApplication::translate("Tarnell", source);
}

// An empty image of the list's icon size, so that the name of an entry without an
// icon starts where the others do.
QIcon blankIcon(const QSize& size) {
    QPixmap blank(size);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}

} // namespace

AppChooserDialog::AppChooserDialog(ApplicationCatalog& catalog, QWidget* parent)
    : QDialog(parent), catalog_(catalog), search_(new QLineEdit(this)),
      list_(new QListWidget(this)), browse_(new QPushButton(text("Browse…"), this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Cancel, this)),
      catalogChanges_(new ChangeSignal(catalog.changes(), this)) {
    setWindowTitle(text("Add App"));
    setModal(true);
    resize(420, 480);

    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(text("Search"));
    search_->setClearButtonEnabled(true);

    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setIconSize(QSize(24, 24));
    list_->setUniformItemSizes(true);

    auto* add = buttons_->addButton(text("Add"), QDialogButtonBox::AcceptRole);
    add->setObjectName(QStringLiteral("addButton"));
    add->setEnabled(false);
    buttons_->addButton(browse_, QDialogButtonBox::ActionRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(search_);
    layout->addWidget(list_);
    layout->addWidget(buttons_);

    connect(search_, &QLineEdit::textChanged, this, &AppChooserDialog::applyFilter);
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { addButton()->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QListWidget::itemActivated, this, &AppChooserDialog::acceptSelection);
    connect(buttons_, &QDialogButtonBox::accepted, this, &AppChooserDialog::acceptSelection);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &AppChooserDialog::browse);
    connect(catalogChanges_, &ChangeSignal::changed, this, &AppChooserDialog::reload);
    reload();
}

std::vector<std::string> AppChooserDialog::chooseApplications(ApplicationCatalog& catalog,
                                                              QWidget* parent) {
    AppChooserDialog dialog(catalog, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.chosenUrls();
}

QPushButton* AppChooserDialog::addButton() const {
    return buttons_->findChild<QPushButton*>(QStringLiteral("addButton"));
}

void AppChooserDialog::reload() {
    std::vector<InstalledApplication> applications = catalog_.installedApplications();
    // The C locale compares code points, which puts "Éclair" after "zed"; names are
    // then ordered as in English instead.
    const QLocale locale =
        QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(applications.begin(), applications.end(),
                     [&collator](const InstalledApplication& a, const InstalledApplication& b) {
                         return collator.compare(a.name, b.name) < 0;
                     });

    // What the user had selected stays selected across the reload.
    QSet<QString> selected;
    for (const QListWidgetItem* item : list_->selectedItems()) {
        selected.insert(item->data(kPathRole).toString());
    }
    const QSignalBlocker blocker(list_);
    list_->clear();
    const QIcon noIcon = blankIcon(list_->iconSize());
    for (const InstalledApplication& application : applications) {
        auto* item = new QListWidgetItem(application.icon.isNull() ? noIcon : application.icon,
                                         application.name, list_);
        item->setData(kPathRole, application.path);
        item->setToolTip(application.path);
        item->setSelected(selected.contains(application.path));
    }
    applyFilter();
    addButton()->setEnabled(!list_->selectedItems().isEmpty());
}

void AppChooserDialog::applyFilter() {
    const QString filter = search_->text().trimmed();
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        item->setHidden(!filter.isEmpty() && !item->text().contains(filter, Qt::CaseInsensitive));
    }
}

void AppChooserDialog::acceptSelection() {
    // Only what is both selected and shown counts: a filter hides what it leaves out.
    QStringList paths;
    for (int i = 0; i < list_->count(); ++i) {
        const QListWidgetItem* item = list_->item(i);
        if (item->isSelected() && !item->isHidden()) {
            paths.append(item->data(kPathRole).toString());
        }
    }
    if (paths.isEmpty()) {
        return;
    }
    acceptFiles(paths);
}

void AppChooserDialog::acceptFiles(const QStringList& paths) {
    chosenUrls_.clear();
    for (const QString& path : paths) {
        chosenUrls_.push_back(fileUrlFromPath(path.toStdString()));
    }
    accept();
}

void AppChooserDialog::browse() {
    QFileDialog files(this, text("Add App"), QStringLiteral("/usr/share/applications"),
                      text("Applications (*.desktop)"));
    files.setObjectName(QStringLiteral("browseDialog"));
    files.setFileMode(QFileDialog::ExistingFiles);
    // What the button does here: the chosen files are added, not opened.
    files.setLabelText(QFileDialog::Accept, text("Add"));
    if (files.exec() != QDialog::Accepted) {
        return;
    }
    QStringList paths = files.selectedFiles();
    // The name filter can be bypassed by typing a name; only desktop entries can be
    // launched, so nothing else is taken.
    paths.removeIf([](const QString& path) { return !path.endsWith(QStringLiteral(".desktop")); });
    if (!paths.isEmpty()) {
        acceptFiles(paths);
    }
}

} // namespace tarnell::app
