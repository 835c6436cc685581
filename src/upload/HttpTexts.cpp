#include "upload/HttpTexts.h"

#include "BuildInfo.h"

namespace HttpTexts {

QByteArray userAgent()
{
    return QStringLiteral("Tarvex/%1.%2.%3")
        .arg(BuildInfo::VersionMajor)
        .arg(BuildInfo::VersionMinor)
        .arg(BuildInfo::VersionRevision)
        .toLatin1();
}

QString duration(std::chrono::milliseconds duration)
{
    const auto ms = duration.count();
    if (ms % 1000 == 0)
        return ms == 1000 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(ms / 1000);
    return QStringLiteral("%1 ms").arg(ms);
}

} // namespace HttpTexts
