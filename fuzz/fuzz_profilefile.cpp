#include "settings/ProfileFile.h"

#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Names as the program passes them; the first two of each differ only in
// letter case, so they name the same thing.
constexpr std::array<const char*, 4> Sections{"Settings", "SETTINGS", "Other", "x y"};
constexpr std::array<const char*, 4> Keys{"UDPPort", "udpport", "CorvanePassword", "Debug"};

QString fromBytes(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool sameName(const char* a, const char* b)
{
    return QString::fromLatin1(a).compare(QString::fromLatin1(b), Qt::CaseInsensitive) == 0;
}

[[noreturn]] void fail(const char* what, const char* section, const char* key, const QString& before,
                       const QString& after)
{
    std::fprintf(stderr, "%s: [%s] %s\n--- before\n%s\n--- after\n%s\n", what, section, key,
                 qUtf8Printable(before), qUtf8Printable(after));
    std::abort();
}

} // namespace

// One write into an arbitrary file text: the value reads back as written,
// less line breaks and surrounding blanks; every other key, in this section
// or any other, reads as before; writing it again changes nothing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const char* section = Sections[input.ConsumeIntegralInRange<size_t>(0, Sections.size() - 1)];
    const char* key = Keys[input.ConsumeIntegralInRange<size_t>(0, Keys.size() - 1)];
    const QString value = fromBytes(input.ConsumeRandomLengthString(512));
    const QString before = fromBytes(input.ConsumeRemainingBytesAsString());

    const QString after =
        ProfileFile::withValue(before, QString::fromLatin1(section), QString::fromLatin1(key), value);

    QString expected = value;
    expected.remove(QLatin1Char('\r'));
    expected.remove(QLatin1Char('\n'));
    expected = expected.trimmed();
    if (ProfileFile::value(after, QString::fromLatin1(section), QString::fromLatin1(key)) != expected)
        fail("the value does not read back as written", section, key, before, after);

    for (const char* otherSection : Sections) {
        for (const char* otherKey : Keys) {
            if (sameName(otherSection, section) && sameName(otherKey, key))
                continue;
            const QString s = QString::fromLatin1(otherSection);
            const QString k = QString::fromLatin1(otherKey);
            if (ProfileFile::value(after, s, k) != ProfileFile::value(before, s, k))
                fail("another key changed", otherSection, otherKey, before, after);
        }
    }

    if (ProfileFile::withValue(after, QString::fromLatin1(section), QString::fromLatin1(key), value) != after)
        fail("writing the same value again changed the file", section, key, before, after);
    return 0;
}
