#include "app/Contrast.h"

#include <QPalette>
#include <algorithm>
#include <cmath>

namespace tarnell::app {

namespace {

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor& colour) {
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

QColor blend(const QColor& from, const QColor& to, double amount) {
    auto channel = [amount](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * amount));
    };
    return {channel(from.red(), to.red()), channel(from.green(), to.green()),
            channel(from.blue(), to.blue())};
}

// How far from the background secondary text starts: clearly lighter than the text.
constexpr double kSecondaryBlend = 0.55;
constexpr double kBlendStep = 0.01;

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double first = relativeLuminance(a);
    const double second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor secondaryTextColor(const QPalette& palette) {
    const QColor text = palette.color(QPalette::WindowText);
    const QColor background = palette.color(QPalette::Window);
    if (contrastRatio(text, background) < kSecondaryTextContrast) {
        return text;
    }
    for (double amount = kSecondaryBlend; amount < 1.0; amount += kBlendStep) {
        const QColor candidate = blend(background, text, amount);
        if (contrastRatio(candidate, background) >= kSecondaryTextContrast) {
            return candidate;
        }
    }
    return text;
}

} // namespace tarnell::app
