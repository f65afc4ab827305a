#include "app/NetStart.h"

#include "port/DeviceName.h"
#include "trace/Trace.h"
#include "ui/Dialog.h"

namespace md {

void NoteTransport(TraceSink& trace, const QString& device) {
    const DeviceKind kind = ParseDeviceName(device);
    if (const NetDevice* net = std::get_if<NetDevice>(&kind))
        trace.Note(QStringLiteral("transport %1, peer %2")
                       .arg(QLatin1String(TransportScheme(net->transport)), PeerText(*net))
                       .toStdString());
}

bool RefuseLocalEcho(const QString& device) {
    if (TransportOf(device) != Transport::ModbusTcp)
        return false;
    ui::AfxMessageBox(LocalEchoRefusal(device));
    return true;
}

QString LocalEchoConflict(const QString& device) {
    if (TransportOf(device) != Transport::ModbusTcp)
        return {};
    return QStringLiteral("--local-echo does not apply to %1: Modbus TCP carries no adapter echo")
        .arg(device);
}

QString DeviceProblem(const QString& device) {
    const DeviceKind kind = ParseDeviceName(device);
    const QString* bad = std::get_if<QString>(&kind);
    return bad ? *bad : QString();
}

} // namespace md
