#pragma once

#include <QLabel>

namespace tarnell::app {

// A one-line label that fits any width it is given: text that does not fit loses its
// middle to an ellipsis, and then the whole text shows as its tooltip. text() stays
// the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The text as drawn at the label's current width.
    [[nodiscard]] QString shownText() const;

    // As narrow as an ellipsis between two letters, so that a layout may shrink it.
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tarnell::app
