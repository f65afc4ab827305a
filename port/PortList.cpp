#include "port/PortList.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace md {

QHash<QString, QString> StableNames(const QString& folder) {
    QHash<QString, QString> links;
    const QDir dir(folder);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::System, QDir::Name)) {
        const QString target = entry.canonicalFilePath();
        if (entry.isSymLink() && !target.isEmpty() && !links.contains(target))
            links.insert(target, entry.absoluteFilePath());
    }
    return links;
}

SystemPortList::SystemPortList(QString stableFolder) : m_stableFolder(std::move(stableFolder)) {}

QList<PortRow> SystemPortList::Ports() const {
    const QHash<QString, QString> stable = StableNames(m_stableFolder);
    QList<PortRow> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortRow row{info.systemLocation(),
                    info.description(),
                    info.manufacturer(),
                    info.serialNumber(),
                    std::nullopt,
                    std::nullopt,
                    {}};
        if (info.hasVendorIdentifier())
            row.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            row.productId = info.productIdentifier();
        row.stableName = stable.value(QFileInfo(row.device).canonicalFilePath());
        ports.append(row);
    }
    return ports;
}

QString PreferStableName(const QString& device, const QList<PortRow>& rows) {
    for (const PortRow& row : rows)
        if (!row.stableName.isEmpty() && (row.device == device || row.stableName == device))
            return row.stableName;
    return device;
}

QString PortLabel(const PortRow& row) {
    QStringList parts{row.device};
    if (!row.stableName.isEmpty())
        parts << QStringLiteral("(%1)").arg(row.stableName);
    for (const QString& field : {row.description, row.manufacturer, row.serialNumber})
        if (!field.isEmpty())
            parts << field;
    return parts.join(QStringLiteral("  "));
}

} // namespace md
