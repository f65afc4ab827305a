#pragma once
// The serial ports the system knows, through one small interface so that the connection dialog
// and --list-ports can be shown rows of a test's choosing.

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace md {

// One serial port; empty fields are unknown.
struct PortRow {
    QString device, description, manufacturer, serialNumber;
    std::optional<quint16> vendorId, productId;
    // A name that outlives replugging (/dev/serial/by-id/...): the same adapter keeps it when
    // the kernel hands it another ttyUSBn. Empty where there is none.
    QString stableName;

    bool operator==(const PortRow&) const = default;
};

class PortList {
public:
    virtual ~PortList() = default;
    virtual QList<PortRow> Ports() const = 0;
};

// The folder where udev keeps one link per serial adapter, named after its maker, model and
// serial number.
inline constexpr char kStableNameFolder[] = "/dev/serial/by-id";

// QSerialPortInfo's ports, with the stable names found in a folder of links.
class SystemPortList final : public PortList {
public:
    explicit SystemPortList(QString stableFolder = QString::fromLatin1(kStableNameFolder));
    QList<PortRow> Ports() const override;

private:
    QString m_stableFolder;
};

// The links in folder (a stable name each) by the device path they lead to; links that lead
// nowhere are left out.
QHash<QString, QString> StableNames(const QString& folder);

// The device that a device (given as a stable name or as a kernel name) should be remembered
// and opened under: its stable name when a row has one, the device as given otherwise.
QString PreferStableName(const QString& device, const QList<PortRow>& rows);

// One line for a list of ports to choose from: the device, its stable name beside it, then what
// is known of description, maker and serial number.
QString PortLabel(const PortRow& row);

} // namespace md
