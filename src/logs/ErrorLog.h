#pragma once

#include <QString>

// The error log: one six-line block per reported error. Starting the error
// indicator is the window's business; it follows every call, written or not.
class ErrorLog final
{
public:
    explicit ErrorLog(QString path);

    // Returns whether the block reached the file; never raises, never shows anything.
    bool write(const QString& Title, const QString& Setting) const;

    static QString blockText(const QString& timestamp, const QString& Title, const QString& Setting);

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
