#pragma once
// The devices the connection dialog offers: the system's serial ports, then the network devices
// used before, most recent first.

#include "port/PortList.h"

#include <QCoreApplication>
#include <QStringList>

namespace md {

// Network devices remembered at most.
inline constexpr int kNetDevicesKept = 8;

// used with device put first (and nowhere else), cut to kNetDevicesKept, every name in its
// normalised spelling (NormalisedDeviceName); used as it is when device is no network device
// name.
QStringList UseNetDevice(QStringList used, const QString& device);

class PortsAndNetDevices final : public PortList {
    Q_DECLARE_TR_FUNCTIONS(PortsAndNetDevices)

public:
    // used is read at every call of Ports, so a device added meanwhile shows at the next look.
    PortsAndNetDevices(const PortList& system, const QStringList& used)
        : m_system(system), m_used(used) {}
    QList<PortRow> Ports() const override;

private:
    const PortList& m_system;
    const QStringList& m_used;
};

} // namespace md
