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

QString Bad(const QString& name, const QString& why) {
    return DeviceNameText::tr("设备“%1”无效：%2").arg(name, why);
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
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    if (numeric.match(host).hasMatch()) {
        QHostAddress a;
        return a.setAddress(host) && a.protocol() == QAbstractSocket::IPv4Protocol &&
               labels.size() == 4;
    }
    return true;
}

} // namespace

bool LooksLikeUrl(const QString& name) {
    static const QRegularExpression url(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return url.match(name).hasMatch();
}

DeviceKind ParseDeviceName(const QString& name) {
    if (!LooksLikeUrl(name))
        return std::monostate{};
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
        device.host = rest.mid(1, close - 1);
        QHostAddress a;
        if (!a.setAddress(device.host) || a.protocol() != QAbstractSocket::IPv6Protocol ||
            device.host.contains(QLatin1Char('%')))
            return Bad(name, DeviceNameText::tr("“%1”不是 IPv6 地址").arg(device.host));
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

QString PeerText(const NetDevice& device) {
    const bool v6 = device.host.contains(QLatin1Char(':'));
    return (v6 ? QLatin1Char('[') + device.host + QLatin1Char(']') : device.host) +
           QLatin1Char(':') + QString::number(device.port);
}

} // namespace md
