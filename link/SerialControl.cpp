#include "link/SerialControl.h"

namespace md {

void SendFrame(SerialControl& port, const std::uint8_t* buf, std::int16_t count) {
    if (!port.GetPortOpen() || count < 0)
        return;
    port.SetOutput(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(count)));
}

} // namespace md
