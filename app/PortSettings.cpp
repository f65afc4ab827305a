#include "app/PortSettings.h"

#include "port/DeviceName.h"
#include "port/MSComm.h"
#include "port/NetPortList.h"

#include <QSettings>

namespace md {

namespace {

QString Key(int port) {
    return QStringLiteral("ports/com%1").arg(port);
}

} // namespace

QString StartDevice(int port, const QString& named, const QString& remembered) {
    if (!named.isEmpty())
        return named;
    if (!remembered.isEmpty())
        return remembered;
    return DeviceForPort(port);
}

QString RememberedDevice(const QSettings& settings, int port) {
    return settings.value(Key(port)).toString();
}

// Written through at once: a run that ends badly later still keeps the operator's choice.
void RememberDevice(QSettings& settings, int port, const QString& device) {
    if (device.isEmpty())
        settings.remove(Key(port));
    else
        settings.setValue(Key(port), NormalisedDeviceName(device));
    settings.sync();
}

QStringList RememberedNetDevices(const QSettings& settings) {
    return settings.value(QStringLiteral("network/devices")).toStringList().mid(0, kNetDevicesKept);
}

QStringList RememberNetDevice(QSettings& settings, const QString& device) {
    const QStringList before = RememberedNetDevices(settings);
    const QStringList after = UseNetDevice(before, device);
    if (after != before) {
        settings.setValue(QStringLiteral("network/devices"), after);
        settings.sync();
    }
    return after;
}

void PutStartDevices(CMSComm& comm, const std::array<QString, 2>& named,
                     const QSettings& remembered) {
    for (std::size_t i = 0; i < named.size(); ++i) {
        const int port = static_cast<int>(i) + 1;
        comm.SetDevice(port, StartDevice(port, named[i], RememberedDevice(remembered, port)));
    }
}

} // namespace md
