#include "upload/HttpClient.h"
#include "upload/ReplyVerdict.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool isAsciiAlphanumeric(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

enum class Reading
{
    No,
    Yes,
    Unsure // only a byte outside ASCII borders it: a letter or not, by its decoding
};

// The plainest reading of the rule: one of the three words, case as written,
// in the first 1024 bytes, with neither a letter nor a digit beside it.
Reading containsWord(const QByteArray& head, const char* word)
{
    const qsizetype length = qsizetype(std::strlen(word));
    Reading found = Reading::No;
    for (qsizetype at = 0; at + length <= head.size(); ++at) {
        if (std::memcmp(head.constData() + at, word, size_t(length)) != 0)
            continue;
        const unsigned char before = at > 0 ? uchar(head[at - 1]) : ' ';
        const unsigned char after = at + length < head.size() ? uchar(head[at + length]) : ' ';
        if (isAsciiAlphanumeric(before) || isAsciiAlphanumeric(after))
            continue;
        if (before < 0x80 && after < 0x80)
            return Reading::Yes;
        found = Reading::Unsure;
    }
    return found;
}

bool oneLine(const QString& text)
{
    return !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'));
}

} // namespace

// Input: two bytes of status, one of flags (bit 0: whole, bit 1: a failure),
// header lines up to a NUL byte, then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    HttpResult reply;
    reply.status = (data[0] << 8 | data[1]) % 1000;
    reply.whole = data[2] & 1;
    if (data[2] & 2) {
        reply.failure = HttpResult::Failure::Cut;
        reply.failureText = QStringLiteral("cut");
    }
    const qsizetype split = input.indexOf('\0', 3);
    for (const QByteArray& line : input.mid(3, split < 0 ? -1 : split - 3).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            reply.headers.append({line.left(colon), line.mid(colon + 1)});
    }
    reply.body = split < 0 ? QByteArray() : input.mid(split + 1);

    const QByteArray head = reply.body.left(ReplyReadLimit);
    bool yes = false;
    bool unsure = false;
    for (const char* word : {"OK", "Modified", "Duplicate"}) {
        const Reading reading = containsWord(head, word);
        yes = yes || reading == Reading::Yes;
        unsure = unsure || reading == Reading::Unsure;
    }
    const bool acceptedReply = isAcceptedReply(reply.body);
    if ((yes || !unsure) && acceptedReply != yes)
        std::abort();

    const Judgement judgement = judgeReply(reply);
    const int status = reply.status;
    const bool judged = reply.whole && reply.failure == HttpResult::Failure::None;
    const bool misdirected = status / 100 == 3 || status == 404 || status == 405 || status == 410;
    Verdict expected = Verdict::Refused;
    if (!judged || status == 408 || status == 429 || status / 100 == 5 || misdirected)
        expected = Verdict::NoVerdict;
    else if (status == 401 || status == 403)
        expected = Verdict::LoginRefused;
    else if (status / 100 == 2 && acceptedReply)
        expected = Verdict::Accepted;
    if (judgement.verdict != expected || !oneLine(judgement.reason) ||
        judgement.reason.isEmpty() !=
            (expected == Verdict::Accepted || (expected == Verdict::Refused && status / 100 == 2)) ||
        judgement.serverError != (judged && (status / 100 == 5 || misdirected)) ||
        judgement.addressSuspect != (judged && misdirected))
        std::abort();
    return 0;
}
