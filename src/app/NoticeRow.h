#pragma once

#include <QWidget>

class QIcon;
class QLabel;
class QPushButton;

namespace tarnell::app {

// A row that tells the user about something Tarnell lacks and offers the way to it:
// a warning sign, a bold title with an explanation below it, and a button on the
// trailing side. The texts wrap; the button keeps its size.
class NoticeRow : public QWidget {
    Q_OBJECT
public:
    NoticeRow(const QString& title, const QString& explanation, const QString& buttonText,
              QWidget* parent = nullptr);

    [[nodiscard]] QLabel* icon() const { return icon_; }
    [[nodiscard]] QLabel* title() const { return title_; }
    [[nodiscard]] QLabel* explanation() const { return explanation_; }
    [[nodiscard]] QPushButton* button() const { return button_; }

private:
    QLabel* icon_;
    QLabel* title_;
    QLabel* explanation_;
    QPushButton* button_;
};

} // namespace tarnell::app
