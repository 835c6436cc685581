#pragma once

#include <QCommandLineParser>

#include <optional>

// A whole-number option within [min, max], or nothing when it is not one.
inline std::optional<qint64> numberOption(const QCommandLineParser& parser, const QString& name, qint64 min,
                                          qint64 max)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}
