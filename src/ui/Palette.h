#pragma once

#include <QColor>
#include <QPalette>

#include <initializer_list>

class QWidget;

// Colours the window chooses itself, kept readable whatever the theme: a
// fixed colour is used only where it stands out enough from its background.
namespace Palette {

// The contrast ratio of two colours as web accessibility measures it (1 to 21).
double contrast(const QColor& a, const QColor& b);
inline constexpr double ReadableContrast = 4.5;

// `preferred` where it reads on `background`; otherwise the first of
// `fallbacks` that does, or the one of them all with the most contrast.
QColor readable(const QColor& preferred, const QColor& background, std::initializer_list<QColor> fallbacks,
                double minimum = ReadableContrast);

void setTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);

// Text that must stand out (not listening, contacts held up), or back to
// the theme's own.
void setAlert(QWidget* widget, bool on);

} // namespace Palette
