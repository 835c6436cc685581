#include "outbox/Outbox.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool same(const QList<Outbox::Entry>& a, const QList<Outbox::Entry>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].record != b[i].record)
            return false;
    }
    return true;
}

} // namespace

// Whatever the bytes: no crash, every damaged line handed back, what is read
// re-encodes and reads back the same, and a record stays one line whatever
// it holds, so a tear beside it never lets the reader in.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int damaged = -1;
    QList<QByteArray> lines;
    const QList<Outbox::Entry> entries = Outbox::parse(bytes, &damaged, &lines);
    if (lines.size() != damaged)
        std::abort();

    QByteArray again = Outbox::Header;
    for (const Outbox::Entry& entry : entries)
        again += Outbox::encodeAdd(entry.key, entry.record);
    int damagedAgain = -1;
    if (!same(Outbox::parse(again, &damagedAgain), entries) || damagedAgain != 0)
        std::abort();

    const QString text = QString::fromUtf8(bytes);
    const QByteArray line = Outbox::encodeAdd(1, text);
    if (line.indexOf('\n') != line.size() - 1)
        std::abort();
    const QByteArray torn = line.left(line.size() / 2) + '\n';
    const QList<Outbox::Entry> expected{{1, text}, {3, text}};
    if (!same(Outbox::parse(line + torn + Outbox::encodeAdd(3, text)), expected))
        std::abort();
    return 0;
}
