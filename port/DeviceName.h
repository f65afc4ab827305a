#pragma once
// A device name is either a serial device (a path, COMn) or the URL of a meter behind the
// network: tcp://HOST:PORT (RTU frames over a plain TCP connection), rfc2217://HOST:PORT (a
// serial device server speaking the Telnet Com Port Control Option) or modbus-tcp://HOST[:PORT]
// (Modbus TCP, port 502 unless given). HOST is a name, an IPv4 address or a bracketed IPv6
// address; a link-local IPv6 address carries its interface as a zone ([fe80::1%25eth0]).

#include "port/SerialControl.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <variant>

namespace md {

struct NetDevice {
    Transport transport = Transport::RawTcp;
    // A name in lower case, an IPv4 address as four numbers, an IPv6 address in its short
    // form without brackets, a link-local one with "%" and its zone (fe80::1%eth0).
    QString host;
    std::uint16_t port = 0;

    bool operator==(const NetDevice&) const = default;
};

// Nothing for a serial device; a NetDevice for a well-formed URL; the reason (UTF-8 Chinese,
// naming the device) for a name that looks like a URL but is not one the tool can use.
using DeviceKind = std::variant<std::monostate, NetDevice, QString>;
DeviceKind ParseDeviceName(const QString& name);

// True for a name that starts like a URL ("scheme://"): such a name never names a serial
// device, well-formed or not.
bool LooksLikeUrl(const QString& name);
// The transport a device name stands for; a serial device, or a name that is no usable URL,
// is Serial.
Transport TransportOf(const QString& name);
// "tcp", "rfc2217", "modbus-tcp"; "serial".
const char* TransportScheme(Transport transport);
// "HOST:PORT" with an IPv6 address in brackets.
QString PeerText(const NetDevice& device);
// The device's URL in one spelling for every way of writing it: the scheme in lower case, the
// host as NetDevice keeps it (a zone written %25), the port left out where it is the default.
QString DeviceUrl(const NetDevice& device);
// DeviceUrl for a network device name; any other name as it is.
QString NormalisedDeviceName(const QString& name);
// Whether the tool can set the line's rate and parity through the transport.
inline bool SetsLine(Transport transport) {
    return transport == Transport::Serial || transport == Transport::Rfc2217;
}

// The box that turns --local-echo off for a Modbus TCP device, which has no adapter echo.
QString LocalEchoRefusal(const QString& device);

class DeviceNameText {
    Q_DECLARE_TR_FUNCTIONS(DeviceNameText)
};

} // namespace md
