#pragma once

#include <QColor>

class QPalette;

namespace tarnell::app {

// The contrast ratio of two colours as the Web Content Accessibility Guidelines
// define it, from 1 (the same) to 21 (black on white). Text wants 4.5 or more.
double contrastRatio(const QColor& a, const QColor& b);

// The least contrast that secondary text keeps against its background.
inline constexpr double kSecondaryTextContrast = 4.5;

// Text that reads as secondary to the palette's window text on its window colour: a
// blend of the two, as close to the window colour as keeps kSecondaryTextContrast;
// the window text itself where even that has less.
QColor secondaryTextColor(const QPalette& palette);

} // namespace tarnell::app
