#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace tarnell::app {

// One section of a grouped form: an optional header above a rounded group of rows
// and an optional footer below it.
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& header = {}, const QString& footer = {},
                         QWidget* parent = nullptr);

    // Appends a row to the group, with a thin rule between rows.
    void addRow(QWidget* row);

    [[nodiscard]] QString headerText() const;
    [[nodiscard]] QString footerText() const;
    [[nodiscard]] QFrame* group() const { return group_; }
    // The header's and the footer's labels; null where the section has none.
    [[nodiscard]] QLabel* header() const { return header_; }
    [[nodiscard]] QLabel* footer() const { return footer_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void colourCaptions();

    QLabel* header_ = nullptr;
    QLabel* footer_ = nullptr;
    QFrame* group_;
    QVBoxLayout* rows_;
};

} // namespace tarnell::app
