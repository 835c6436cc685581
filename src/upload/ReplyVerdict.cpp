#include "upload/ReplyVerdict.h"

bool isAcceptedReply(const QByteArray& reply)
{
    const QByteArray head = reply.left(ReplyReadLimit);
    return head.contains("OK") || head.contains("Modified") || head.contains("Duplicate");
}
