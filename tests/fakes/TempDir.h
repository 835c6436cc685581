#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A UDP port nobody holds right now.
quint16 freeUdpPort();

// A throw-away application directory with small helpers to look at its files.
class TempDir final
{
public:
    TempDir();

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const;
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& bytes) const;
    bool exists(const QString& name) const;

private:
    QTemporaryDir m_dir;
};
