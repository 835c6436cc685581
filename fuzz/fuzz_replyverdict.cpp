#include "upload/ReplyVerdict.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool containsWord(const char* head, size_t size, const char* word)
{
    const size_t length = std::strlen(word);
    for (size_t at = 0; at + length <= size; ++at) {
        if (std::memcmp(head + at, word, length) == 0)
            return true;
    }
    return false;
}

} // namespace

// The verdict must agree with the plainest reading of the rule: one of the
// three words, case as written, somewhere in the first 1024 bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const size_t judged = size < 1024 ? size : 1024;
    const char* head = reinterpret_cast<const char*>(data);
    const bool expected = containsWord(head, judged, "OK") || containsWord(head, judged, "Modified") ||
                          containsWord(head, judged, "Duplicate");
    if (isAcceptedReply(reply) != expected)
        std::abort();
    return 0;
}
