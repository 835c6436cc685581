#pragma once

#include <QByteArray>

// Only this much of a reply is read and judged.
inline constexpr int ReplyReadLimit = 1024;

// True when the first ReplyReadLimit bytes contain "OK", "Modified" or
// "Duplicate" (case-sensitive, anywhere): the service took the record.
bool isAcceptedReply(const QByteArray& reply);
