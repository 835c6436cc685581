#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUdpSocket>

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

TempDir::TempDir() = default;

QString TempDir::file(const QString& name) const
{
    return QDir(m_dir.path()).filePath(name);
}

QByteArray TempDir::read(const QString& name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void TempDir::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

bool TempDir::exists(const QString& name) const
{
    return QFileInfo::exists(file(name));
}
