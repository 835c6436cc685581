#pragma once

#include <QString>

// The error log: one six-line block per reported error. The disk keeper is
// its writer while the station runs; starting the error indicator is the
// window's business.
class ErrorLog final
{
public:
    explicit ErrorLog(QString path);

    // A block stamped now. Returns whether it reached the file; never raises, never shows anything.
    bool write(const QString& Title, const QString& Setting) const;
    // A block made earlier by blockText(), so it carries the time it was reported.
    bool append(const QString& block, QString* error = nullptr) const;

    static QString blockText(const QString& timestamp, const QString& Title, const QString& Setting);

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
