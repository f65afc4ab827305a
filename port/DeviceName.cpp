#include "port/DeviceName.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace md {

namespace {

struct Scheme {
    const char* name;
    Transport transport;
    int defaultPort; // 0: the port must be given
};

constexpr Scheme kSchemes[] = {
    {"tcp", Transport::RawTcp, 0},
    {"rfc2217", Transport::Rfc2217, 0},
    {"modbus-tcp", Transport::ModbusTcp, 502},
};

// The name as a refusal shows it: on one line, whatever it holds. Control characters, line
// and paragraph separators come out as \xNN or \uNNNN.
QString Shown(const QString& name) {
    QString shown;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F)
            shown += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else if ((u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            shown += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString Bad(const QString& name, const QString& why) {
    return DeviceNameText::tr("设备“%1”无效：%2").arg(Shown(name), Shown(why));
}

// A link-local IPv6 address is only reachable through one interface: the zone names it, in a
// URL as %25 followed by the interface's name or number (a bare % is taken as well).
bool IsZone(const QString& zone) {
    static const QRegularExpression chars(QStringLiteral("^[A-Za-z0-9_.-]{1,32}$"));
    return chars.match(zone).hasMatch();
}

// A host name as DNS allows it: labels of letters, digits and hyphens, parted by dots.
bool IsHostName(const QString& host) {
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(QLatin1Char('.'));
    for (const QString& l : labels)
        if (!label.match(l).hasMatch())
            return false;
    // All digits and dots is an IPv4 address or nothing: 999.1.1.1 is no name.
    // Qt and the resolver read 10.5 as 10.0.0.5 and 010.0.0.5 as 8.0.0.5: only the dotted
    // quad of decimal numbers without leading zeros says what it means.
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    if (numeric.match(host).hasMatch()) {
        for (const QString& l : labels)
            if (l.size() > 1 && l.startsWith(QLatin1Char('0')))
                return false;
        QHostAddress a;
        return a.setAddress(host) && a.protocol() == QAbstractSocket::IPv4Protocol &&
               labels.size() == 4;
    }
    return true;
}

} // namespace

bool LooksLikeUrl(const QString& name) {
    // Blanks around a name pasted in are no part of it: " tcp://h:1" is still a URL.
    static const QRegularExpression url(QStringLiteral("^\\s*[A-Za-z][A-Za-z0-9+.-]*://"));
    return url.match(name).hasMatch();
}

DeviceKind ParseDeviceName(const QString& typed) {
    if (!LooksLikeUrl(typed))
        return std::monostate{};
    const QString name = typed.trimmed();
    const qsizetype colon = name.indexOf(QLatin1String("://"));
    const QString scheme = name.left(colon).toLower();
    const Scheme* known = nullptr;
    for (const Scheme& s : kSchemes)
        if (scheme == QLatin1String(s.name))
            known = &s;
    if (!known)
        return Bad(name, DeviceNameText::tr("不认识的协议“%1”，可用 tcp://、rfc2217://、"
                                            "modbus-tcp://")
                             .arg(scheme));
    const QString rest = name.mid(colon + 3);
    if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('@')) ||
        rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        return Bad(name, DeviceNameText::tr("只能写主机和端口"));

    NetDevice device;
    device.transport = known->transport;
    QString portText;
    bool hasPort = false;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return Bad(name, DeviceNameText::tr("IPv6 地址缺少“]”"));
        const QString inside = rest.mid(1, close - 1);
        const qsizetype percent = inside.indexOf(QLatin1Char('%'));
        const QString address = percent < 0 ? inside : inside.left(percent);
        QString zone = percent < 0 ? QString() : inside.mid(percent + 1);
        if (zone.size() > 2 && zone.startsWith(QLatin1String("25")))
            zone = zone.mid(2); // %25 is how a URL writes the %
        QHostAddress a;
        if (!a.setAddress(address) || a.protocol() != QAbstractSocket::IPv6Protocol ||
            address.contains(QLatin1Char('%')))
            return Bad(name, DeviceNameText::tr("“%1”不是 IPv6 地址").arg(address));
        if (percent >= 0 && !IsZone(zone))
            return Bad(name, DeviceNameText::tr("“%1”不是网卡名或编号").arg(zone));
        if (percent >= 0 && !a.isLinkLocal())
            return Bad(name, DeviceNameText::tr("只有链路本地地址（fe80::/10）才带网卡"));
        if (percent < 0 && a.isLinkLocal())
            return Bad(name, DeviceNameText::tr("链路本地地址要写明网卡，如 [fe80::1%25eth0]"));
        device.host = a.toString() + (zone.isEmpty() ? QString() : QLatin1Char('%') + zone);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return Bad(name, DeviceNameText::tr("“]”后应是“:端口”"));
            hasPort = true;
            portText = after.mid(1);
        }
    } else {
        const qsizetype at = rest.lastIndexOf(QLatin1Char(':'));
        if (at >= 0 && rest.indexOf(QLatin1Char(':')) != at)
            return Bad(name, DeviceNameText::tr("IPv6 地址要写在方括号里，如 [::1]"));
        device.host = at < 0 ? rest : rest.left(at);
        hasPort = at >= 0;
        portText = rest.mid(at + 1);
        if (device.host.isEmpty())
            return Bad(name, DeviceNameText::tr("缺少主机"));
        if (!IsHostName(device.host))
            return Bad(name, DeviceNameText::tr("“%1”不是主机名或 IPv4 地址").arg(device.host));
        device.host = device.host.toLower(); // names are the same in any case
    }
    if (!hasPort) {
        if (known->defaultPort == 0)
            return Bad(name, DeviceNameText::tr("缺少端口"));
        device.port = static_cast<std::uint16_t>(known->defaultPort);
        return device;
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int port = portText.toInt();
    if (!digits.match(portText).hasMatch() || port < 1 || port > 65535)
        return Bad(name, DeviceNameText::tr("端口应是 1 到 65535 的数"));
    device.port = static_cast<std::uint16_t>(port);
    return device;
}

Transport TransportOf(const QString& name) {
    const DeviceKind kind = ParseDeviceName(name);
    const NetDevice* device = std::get_if<NetDevice>(&kind);
    return device ? device->transport : Transport::Serial;
}

const char* TransportScheme(Transport transport) {
    switch (transport) {
    case Transport::RawTcp:
        return "tcp";
    case Transport::Rfc2217:
        return "rfc2217";
    case Transport::ModbusTcp:
        return "modbus-tcp";
    case Transport::Serial:
        break;
    }
    return "serial";
}

QString LocalEchoRefusal(const QString& device) {
    return DeviceNameText::tr("%1 是 Modbus TCP 设备，没有线路回显：--local-echo 不适用，已关闭")
        .arg(device);
}

QString DeviceUrl(const NetDevice& device) {
    const int defaultPort = device.transport == Transport::ModbusTcp ? 502 : 0;
    QString host = device.host;
    const qsizetype percent = host.indexOf(QLatin1Char('%'));
    if (percent >= 0)
        host.insert(percent + 1, QLatin1String("25"));
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QLatin1String(TransportScheme(device.transport)) + QLatin1String("://") + host +
           (device.port == defaultPort ? QString()
                                       : QLatin1Char(':') + QString::number(device.port));
}

QString NormalisedDeviceName(const QString& name) {
    const DeviceKind kind = ParseDeviceName(name);
    const NetDevice* device = std::get_if<NetDevice>(&kind);
    return device ? DeviceUrl(*device) : name;
}

QString PeerText(const NetDevice& device) {
    const bool v6 = device.host.contains(QLatin1Char(':'));
    return (v6 ? QLatin1Char('[') + device.host + QLatin1Char(']') : device.host) +
           QLatin1Char(':') + QString::number(device.port);
}

} // namespace md
