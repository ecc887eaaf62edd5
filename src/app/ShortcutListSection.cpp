#include "app/ShortcutListSection.h"

#include "app/AppChooserDialog.h"
#include "app/ChangeSignal.h"
#include "app/ShortcutRow.h"
#include "bindings/BindingStore.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnell::app {

ShortcutListSection::ShortcutListSection(BindingStore& store, ApplicationCatalog& catalog,
                                         QWidget* parent)
    : QWidget(parent), store_(store), catalog_(catalog),
      chooser_([&catalog](QWidget* dialogParent) {
          return AppChooserDialog::chooseApplications(catalog, dialogParent);
      }),
      rowsLayout_(new QVBoxLayout()),
      addButton_(new QPushButton(QCoreApplication::translate("Tarnell", "Add App…"), this)),
      storeChanges_(new ChangeSignal(store.changes(), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(rowsLayout_);

    addButton_->setObjectName(QStringLiteral("addAppButton"));
    layout->addWidget(addButton_, 0, Qt::AlignLeft);

    connect(addButton_, &QPushButton::clicked, this, &ShortcutListSection::addApps);
    connect(storeChanges_, &ChangeSignal::changed, this, &ShortcutListSection::refresh);
    refresh();
}

std::vector<ShortcutRow*> ShortcutListSection::rows() const {
    std::vector<ShortcutRow*> rows;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        rows.push_back(static_cast<ShortcutRow*>(rowsLayout_->itemAt(i)->widget()));
    }
    return rows;
}

void ShortcutListSection::refresh() {
    std::map<RowKey, ShortcutRow*> previous = std::move(rowsByKey_);
    rowsByKey_.clear();
    std::map<Uuid, std::size_t> occurrences;

    int position = 0;
    for (const AppBinding& binding : store_.bindings()) {
        const RowKey key{binding.id, occurrences[binding.id]++};
        ShortcutRow* row = nullptr;
        if (auto found = previous.find(key); found != previous.end()) {
            row = found->second;
            previous.erase(found);
        } else {
            row = new ShortcutRow(store_, catalog_, key.first, key.second, this);
        }
        rowsByKey_.emplace(key, row);
        // Moved only when out of place, so an unchanged row keeps its focus.
        if (rowsLayout_->indexOf(row) != position) {
            rowsLayout_->removeWidget(row);
            rowsLayout_->insertWidget(position, row);
        }
        row->refresh(binding);
        row->show();
        ++position;
    }

    for (auto& [key, row] : previous) {
        rowsLayout_->removeWidget(row);
        row->hide();
        // The row may be the sender of the action that removed it.
        row->deleteLater();
    }
}

void ShortcutListSection::addApps() {
    // Each addition completes before the next, so later applications see the keys
    // that earlier ones took.
    for (const std::string& url : chooser_(window())) {
        store_.addApp(url);
    }
}

} // namespace tarnell::app
