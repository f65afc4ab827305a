#include "port/NetPortList.h"

#include "port/DeviceName.h"

namespace md {

QStringList UseNetDevice(QStringList used, const QString& device) {
    if (!std::holds_alternative<NetDevice>(ParseDeviceName(device)))
        return used;
    // One spelling per device: TCP://h:1 and tcp://h:1, modbus-tcp://gw and
    // modbus-tcp://gw:502 are one entry, also among those kept from before.
    QStringList kept{NormalisedDeviceName(device)};
    for (const QString& other : used) {
        const QString normalised = NormalisedDeviceName(other);
        if (!kept.contains(normalised) && kept.size() < kNetDevicesKept)
            kept.append(normalised);
    }
    return kept;
}

QList<PortRow> PortsAndNetDevices::Ports() const {
    QList<PortRow> rows = m_system.Ports();
    for (const QString& device : m_used) {
        const DeviceKind kind = ParseDeviceName(device);
        const NetDevice* net = std::get_if<NetDevice>(&kind);
        if (!net)
            continue;
        PortRow row;
        row.device = device;
        row.description = net->transport == Transport::ModbusTcp ? tr("网络设备（Modbus TCP）")
                          : net->transport == Transport::Rfc2217 ? tr("网络设备（RFC 2217）")
                                                                 : tr("网络设备（RTU over TCP）");
        rows.append(row);
    }
    return rows;
}

} // namespace md
