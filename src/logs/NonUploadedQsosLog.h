#pragma once

#include <QString>

// The file of contacts not uploaded: a two-line comment header when the file
// is created, then one ADIF record per line, ready for a manual upload.
class NonUploadedQsosLog final
{
public:
    explicit NonUploadedQsosLog(QString path);

    // Appends the record (with the header first when the file does not exist)
    // in one write. Returns whether it reached the file, so that a contact that
    // could not be kept is never dropped silently; `error` then says why.
    bool append(const QString& record, QString* error = nullptr) const;

    static QString header();

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
