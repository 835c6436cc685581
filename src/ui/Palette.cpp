#include "ui/Palette.h"

#include <QWidget>

#include <cmath>

namespace {

double luminance(const QColor& colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

} // namespace

namespace Palette {

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readable(const QColor& preferred, const QColor& background, std::initializer_list<QColor> fallbacks,
                double minimum)
{
    if (contrast(preferred, background) >= minimum)
        return preferred;
    QColor best = preferred;
    for (const QColor& fallback : fallbacks) {
        if (contrast(fallback, background) >= minimum)
            return fallback;
        if (contrast(fallback, background) > contrast(best, background))
            best = fallback;
    }
    return best;
}

void setTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void setAlert(QWidget* widget, bool on)
{
    const QPalette theme = widget->parentWidget() ? widget->parentWidget()->palette() : QPalette();
    const QColor background = theme.color(QPalette::Window);
    const QColor colour = on ? readable(QColor(176, 0, 0), background,
                                        {QColor(255, 140, 140), theme.color(QPalette::WindowText)})
                             : theme.color(QPalette::WindowText);
    if (widget->palette().color(QPalette::WindowText) != colour)
        setTextColour(widget, QPalette::WindowText, colour);
    QFont font = widget->font();
    if (font.bold() != on) {
        font.setBold(on);
        widget->setFont(font);
    }
}

} // namespace Palette
