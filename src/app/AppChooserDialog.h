#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QDialogButtonBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnell::app {

class ApplicationCatalog;
class ChangeSignal;

// Lets the user pick one or more installed applications, or any desktop entry file
// through "Browse…". Follows applications being installed or removed while open.
class AppChooserDialog : public QDialog {
    Q_OBJECT
public:
    explicit AppChooserDialog(ApplicationCatalog& catalog, QWidget* parent = nullptr);

    // Runs the dialog modally; the file URLs of the chosen entries in the order
    // shown, or nothing when the user cancelled.
    static std::vector<std::string> chooseApplications(ApplicationCatalog& catalog,
                                                       QWidget* parent);

    // The file URLs of what the user chose, once the dialog has been accepted.
    [[nodiscard]] std::vector<std::string> chosenUrls() const { return chosenUrls_; }

    [[nodiscard]] QLineEdit* searchField() const { return search_; }
    [[nodiscard]] QListWidget* list() const { return list_; }
    [[nodiscard]] QPushButton* addButton() const;
    [[nodiscard]] QPushButton* browseButton() const { return browse_; }

    // Accepts the dialog with these desktop entry files, as "Browse…" does.
    void acceptFiles(const QStringList& paths);

    // The path of the desktop entry that a list item stands for.
    static constexpr int kPathRole = Qt::UserRole;

private:
    void reload();
    void applyFilter();
    void acceptSelection();
    void browse();

    ApplicationCatalog& catalog_;
    QLineEdit* search_;
    QListWidget* list_;
    QPushButton* browse_;
    QDialogButtonBox* buttons_;
    ChangeSignal* catalogChanges_;
    std::vector<std::string> chosenUrls_;
};

} // namespace tarnell::app
