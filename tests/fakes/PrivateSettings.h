#pragma once
// Keeps a test program's settings away from the user's. QSettings takes its folder from
// XDG_CONFIG_HOME once per process, so a global of this type, made before main(), points it at
// a temporary folder of the program's own.

#include <QSettings>
#include <QTemporaryDir>

namespace md {

class PrivateSettings {
public:
    PrivateSettings() {
        if (!m_dir.isValid())
            qFatal("no temporary folder for the settings");
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    }
    // The settings the program opens.
    static QSettings Open() {
        return QSettings(QStringLiteral("MeterDebug"), QStringLiteral("MeterDebug"));
    }

private:
    QTemporaryDir m_dir;
};

} // namespace md
