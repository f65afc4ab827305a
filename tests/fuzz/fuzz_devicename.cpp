// Device names: any text, as UTF-8, often behind a scheme. Property: a name that starts like
// a URL is never taken for a serial device; every accepted network name prints back
// (DeviceUrl) to a name that parses to the same device and prints the same again; every
// refused name has a reason on one line.

#include "port/DeviceName.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    // The first byte may put a scheme in front: the parser's own rules only start behind one,
    // and random bytes seldom make it.
    static const char* const kPrefixes[] = {"tcp://", "rfc2217://", "modbus-tcp://",
                                            "TCP://", " tcp://[",   "modbus-tcp://[fe80::"};
    constexpr std::size_t kChoices = sizeof kPrefixes / sizeof kPrefixes[0];
    QString name;
    if (size > 0 && in[0] < kChoices) {
        name = QString::fromLatin1(kPrefixes[in[0]]);
        ++in;
        --size;
    }
    name += QString::fromUtf8(reinterpret_cast<const char*>(in), qsizetype(size));
    const md::DeviceKind kind = md::ParseDeviceName(name);
    if (md::LooksLikeUrl(name) && std::holds_alternative<std::monostate>(kind))
        std::abort(); // a URL would be opened as a serial path
    if (const QString* why = std::get_if<QString>(&kind)) {
        if (why->isEmpty())
            std::abort();
        for (const QChar c : *why)
            if (c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85) ||
                c == QChar(0x2028) || c == QChar(0x2029))
                std::abort(); // a reason over more than one line
        return 0;
    }
    const md::NetDevice* device = std::get_if<md::NetDevice>(&kind);
    if (!device)
        return 0;
    const QString url = md::DeviceUrl(*device);
    const md::DeviceKind again = md::ParseDeviceName(url);
    const md::NetDevice* same = std::get_if<md::NetDevice>(&again);
    if (!same || !(*same == *device))
        std::abort(); // the printed name is another device, or none
    if (md::DeviceUrl(*same) != url || md::NormalisedDeviceName(name) != url)
        std::abort(); // more than one spelling
    return 0;
}
