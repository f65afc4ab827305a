// The serial port control's side of a device named by a URL: the connection is a NetPort, and
// every property goes to it while it is there.

#include "port/DeviceName.h"
#include "port/MSComm.h"
#include "port/NetPort.h"

namespace md {

void CMSComm::OpenNet(const QString& device) {
    const DeviceKind kind = ParseDeviceName(device);
    if (const QString* bad = std::get_if<QString>(&kind))
        Throw(CMSComm::tr("无法打开%1：%2").arg(Where(), *bad));
    // The connect lets the event loop run: a tick or a command meanwhile cannot start another.
    if (m_connecting)
        Throw(CMSComm::tr("无法打开%1：正在连接").arg(Where()));
    auto net = std::make_unique<NetPort>(std::get<NetDevice>(kind), Where(), m_line, m_settings);
    net->SetCommPort(m_commPort);
    net->SetInputLen(m_inputLen);
    m_connecting = true;
    try {
        net->Connect();
    } catch (const CommError&) {
        m_connecting = false;
        throw;
    }
    m_connecting = false;
    Close();
    m_net = std::move(net);
}

void CMSComm::SetInputLen(std::int16_t len) {
    m_inputLen = len;
    if (m_net)
        m_net->SetInputLen(len);
}

bool CMSComm::GetPortOpen() const {
    return m_net ? m_net->GetPortOpen() : m_port.isOpen();
}

std::string CMSComm::LostReason() const {
    if (m_net && !m_net->LostReason().empty())
        return m_net->LostReason();
    return m_lost.toStdString();
}

Transport CMSComm::GetTransport() const {
    return m_net ? m_net->GetTransport() : TransportOf(Device());
}

} // namespace md
