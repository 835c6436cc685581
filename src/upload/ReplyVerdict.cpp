#include "upload/ReplyVerdict.h"

#include "upload/HttpClient.h"

#include <QDateTime>
#include <QLocale>
#include <QStringDecoder>

namespace {

bool containsWord(const QString& text, QLatin1String word)
{
    for (qsizetype at = text.indexOf(word); at >= 0; at = text.indexOf(word, at + 1)) {
        const qsizetype end = at + word.size();
        const bool before = at > 0 && text[at - 1].isLetterOrNumber();
        const bool after = end < text.size() && text[end].isLetterOrNumber();
        if (!before && !after)
            return true;
    }
    return false;
}

QString statusReason(int status)
{
    return QStringLiteral("HTTP status %1 from the log service").arg(status);
}

} // namespace

bool isAcceptedReply(const QByteArray& reply)
{
    // Decoded, so a letter outside ASCII next to a word counts as a letter;
    // a byte cut off at the window's edge decodes as a replacement character.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString head = utf8.decode(reply.left(ReplyReadLimit));
    if (utf8.hasError())
        head = QString::fromLatin1(reply.left(ReplyReadLimit));
    return containsWord(head, QLatin1String("OK")) || containsWord(head, QLatin1String("Modified")) ||
           containsWord(head, QLatin1String("Duplicate"));
}

std::optional<std::chrono::seconds> parseRetryAfter(const QByteArray& value, const QDateTime& now)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qlonglong seconds = text.toLongLong(&ok);
    if (ok)
        return seconds >= 0 ? std::optional(std::chrono::seconds(seconds)) : std::nullopt;
    QDateTime when =
        QLocale::c().toDateTime(QString::fromLatin1(text), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!when.isValid())
        return std::nullopt;
    when.setTimeSpec(Qt::UTC);
    return std::chrono::seconds(std::max<qint64>(0, now.secsTo(when)));
}

Judgement judgeReply(const HttpResult& reply)
{
    Judgement judgement;
    if (reply.failure != HttpResult::Failure::None || !reply.whole) {
        judgement.reason = reply.failureText.isEmpty()
                               ? QStringLiteral("The reply of the log service did not arrive whole")
                               : reply.failureText;
        return judgement;
    }
    const int status = reply.status;
    if (status == 401 || status == 403) {
        judgement.verdict = Verdict::LoginRefused;
        judgement.reason = statusReason(status);
        return judgement;
    }
    if (status == 408 || status == 429 || (status >= 500 && status <= 599)) {
        judgement.reason = statusReason(status);
        judgement.serverError = status >= 500;
        judgement.retryAfter = parseRetryAfter(reply.header("Retry-After"), QDateTime::currentDateTimeUtc());
        return judgement;
    }
    if ((status >= 300 && status <= 399) || status == 404 || status == 405 || status == 410) {
        // Say what answered: a network's login page or a moved service names itself.
        const QString location = QString::fromLatin1(reply.header("Location").left(200));
        judgement.reason =
            (QStringLiteral("HTTP status %1 %2").arg(status).arg(QString::fromLatin1(reply.reasonPhrase)) +
             QStringLiteral(" from the log service") +
             (location.isEmpty() ? QString() : QStringLiteral(" (Location: %1)").arg(location)))
                .simplified() +
            QStringLiteral("; the CorvaneHost setting may be wrong");
        judgement.serverError = true;
        judgement.addressSuspect = true;
        return judgement;
    }
    if (status >= 200 && status <= 299 && isAcceptedReply(reply.body)) {
        judgement.verdict = Verdict::Accepted;
        return judgement;
    }
    judgement.verdict = Verdict::Refused;
    if (status < 200 || status > 299)
        judgement.reason = statusReason(status);
    return judgement;
}
