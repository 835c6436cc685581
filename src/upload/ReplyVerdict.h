#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

struct HttpResult;

// Only this much of a reply body is read and judged.
inline constexpr int ReplyReadLimit = 1024;

// True when the first ReplyReadLimit bytes hold "OK", "Modified" or
// "Duplicate" as a word of its own (case-sensitive): a letter or digit right
// before or after it makes no match, so "TOKEN" and "OK1ABC" do not accept.
bool isAcceptedReply(const QByteArray& reply);

// What an answer means for the contact it was about.
enum class Verdict
{
    Accepted,     // the service took it
    Refused,      // the service said something about the contact: keep it for a manual upload
    NoVerdict,    // nothing was said about the contact: it waits and goes again
    LoginRefused, // HTTP 401 or 403: every contact waits for a new login
};

struct Judgement
{
    Verdict verdict = Verdict::NoVerdict;
    QString reason;                                 // one line; empty for an accepting reply
    std::optional<std::chrono::seconds> retryAfter; // from a Retry-After header, when one came
    bool serverError = false;                       // HTTP 5xx, 3xx, 404, 405 or 410
    bool addressSuspect = false;                    // 3xx, 404, 405, 410: not the service answered
};

// Only a whole reply is judged; a failure of the connection, the time-out, a
// cut reply, 408, 429, every 5xx, and an answer from something other than the
// service (a redirect to a network's login page, 404, 405, 410) say nothing
// about the contact.
Judgement judgeReply(const HttpResult& reply);

// A Retry-After value (seconds, or an HTTP date counted from `now`).
std::optional<std::chrono::seconds> parseRetryAfter(const QByteArray& value, const QDateTime& now);
