#include "port/SerialControl.h"

#include <QCoreApplication>

namespace md {

std::string PortClosedText() {
    return QCoreApplication::translate("md::SerialControl", "串口已关闭").toStdString();
}

bool SendFrame(SerialControl& port, const std::uint8_t* buf, std::int16_t count) {
    if (!port.GetPortOpen() || count < 0)
        return false;
    port.SetOutput(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(count)));
    return true;
}

} // namespace md
