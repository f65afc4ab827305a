#pragma once
// The devices behind the ports kept between runs, and which device a run starts with.

#include <QString>
#include <QStringList>

#include <array>

class QSettings;

namespace md {

class CMSComm;

// The device behind port n at start: the one the command line or the environment named
// (Options::devices), else the remembered one, else the platform's own.
QString StartDevice(int port, const QString& named, const QString& remembered);

// Puts behind each port of comm the device a run starts with (StartDevice), for the runs
// without a window.
void PutStartDevices(CMSComm& comm, const std::array<QString, 2>& named,
                     const QSettings& remembered);

// The device remembered for port n (ports/comN); empty when none is.
QString RememberedDevice(const QSettings& settings, int port);
// Remembers device for port n at once; an empty device forgets it.
void RememberDevice(QSettings& settings, int port, const QString& device);

// The network devices used before, most recent first (network/devices); at most
// kNetDevicesKept.
QStringList RememberedNetDevices(const QSettings& settings);
// Puts a network device first among those remembered and gives the list now; any other
// device changes nothing.
QStringList RememberNetDevice(QSettings& settings, const QString& device);

} // namespace md
