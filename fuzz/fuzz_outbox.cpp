#include "outbox/Outbox.h"

#include <cstdint>
#include <cstdlib>

// Whatever the bytes: no crash, what is read re-encodes and reads back the
// same, and a record stays one line whatever it holds, so a tear beside it
// never lets the reader in.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<Outbox::Entry> entries = Outbox::parse(bytes);

    QByteArray again = Outbox::Header;
    for (const Outbox::Entry& entry : entries)
        again += Outbox::encodeAdd(entry.key, entry.record);
    int damaged = -1;
    if (Outbox::parse(again, &damaged) != entries || damaged != 0)
        std::abort();

    const QString text = QString::fromUtf8(bytes);
    const QByteArray line = Outbox::encodeAdd(1, text);
    if (line.indexOf('\n') != line.size() - 1)
        std::abort();
    const QByteArray torn = line.left(line.size() / 2) + '\n';
    const QList<Outbox::Entry> expected{{1, text}, {3, text}};
    if (Outbox::parse(line + torn + Outbox::encodeAdd(3, text)) != expected)
        std::abort();
    return 0;
}
