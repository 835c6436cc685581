#pragma once

#include <QString>

// The file of contacts not uploaded: a short ADIF header when the file is
// created (two comment lines, <EOH> and an empty line), then one ADIF record
// per line, ready for a manual upload.
class NonUploadedQsosLog final
{
public:
    explicit NonUploadedQsosLog(QString path);

    // Appends the record (after the header when the file does not exist) in
    // one write and syncs it, since the contact leaves the outbox for it.
    // Returns whether it is on the disk; `error` then says why not.
    bool append(const QString& record, QString* error = nullptr) const;

    static QString header();

    const QString& path() const { return m_path; }

private:
    QString m_path;
};
