#include "capture/DatagramRelay.h"
#include "capture/SenderFilter.h"
#include "logs/LogText.h"
#include "settings/SettingConversions.h"
#include "upload/ServiceAddress.h"
#include "upload/UpdateChecker.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>

// The values a person types into Tarvex.ini, and a version file from the
// net: whatever they hold, reading them never crashes, an unusable entry is
// reported, a password in an address is never shown, and masked text never
// holds the password.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QStringList problems;
    const SenderFilter senders = SenderFilter::fromSetting(text, {}, &problems);
    senders.admits(QHostAddress(QStringLiteral("192.168.1.7")));
    for (const RelayDestination& destination : parseRelayTo(text, &problems)) {
        if (destination.port == 0 || destination.host.isEmpty())
            std::abort();
    }
    SettingConversions::toPort(text);
    SettingConversions::toBoolean(text);
    SettingConversions::toCount(text);

    const ServiceBase base = resolveServiceBase(QStringLiteral("CorvaneHost"), text, QStringLiteral("example.org"));
    if (base.url.isEmpty() == base.problem.isEmpty())
        std::abort();
    // "user:secret@host" never shows its secret.
    static const QRegularExpression userInfo(QStringLiteral("^[a-z]+://[^/@:]+:([^/@]{6,})@"));
    const QRegularExpressionMatch secret = userInfo.match(text.trimmed());
    if (secret.hasMatch() && base.problem.contains(secret.captured(1)))
        std::abort();

    const auto order = compareVersions(text, QStringLiteral("1.0.0"));
    if (order != std::partial_ordering::unordered && compareVersions(QStringLiteral("1.0.0"), text) != (0 <=> order))
        std::abort();

    const QString password = text.left(12);
    if (password.size() >= LogText::MinMaskedPassword && !password.contains(QLatin1Char('\n')) &&
        !password.back().isHighSurrogate() &&
        LogText::safeText(QStringLiteral("reply: ") + password, password).contains(password))
        std::abort();
    return 0;
}
