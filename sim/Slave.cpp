#include "sim/Slave.h"

#include "meter/Registers.h"

#include <modbus/modbus.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace md::sim {

namespace {

constexpr int kRegisters = 0x0400; // covers every register of the map
// Requests arrive whole from the relay, so a pause inside one means it has ended.
constexpr int kByteTimeoutUs = 50'000;
constexpr std::uint8_t kBroadcast = 0;

std::uint16_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

} // namespace

MeterSlave::MeterSlave(const std::string& device, MeterModel& model) : m_model(model) {
    m_ctx = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
    if (!m_ctx)
        throw std::runtime_error("cannot create the Modbus server: " +
                                 std::string(modbus_strerror(errno)));
    modbus_set_slave(m_ctx, m_model.Address());
    modbus_set_byte_timeout(m_ctx, 0, kByteTimeoutUs);
    if (modbus_connect(m_ctx) == -1) {
        const std::string why = modbus_strerror(errno);
        modbus_free(m_ctx);
        throw std::runtime_error("cannot open " + device + ": " + why);
    }
    m_map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisters, 0, 0);
    if (!m_map) {
        modbus_close(m_ctx);
        modbus_free(m_ctx);
        throw std::runtime_error("cannot allocate the register mapping");
    }
}

MeterSlave::~MeterSlave() {
    modbus_mapping_free(m_map);
    modbus_close(m_ctx);
    modbus_free(m_ctx);
}

int MeterSlave::Fd() const {
    return modbus_get_socket(m_ctx);
}

std::optional<std::vector<std::uint8_t>> MeterSlave::Receive() {
    modbus_set_slave(m_ctx, m_model.Address());
    std::uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
    const int n = modbus_receive(m_ctx, buf);
    // libmodbus reads only as far as the function code says; a frame it cannot lay out
    // leaves bytes behind that must not start the next request.
    modbus_flush(m_ctx);
    if (n <= 0)
        return std::nullopt;
    return std::vector<std::uint8_t>(buf, buf + n);
}

bool MeterSlave::Answer(const std::vector<std::uint8_t>& request, bool refuse,
                        MeterModel::TimePoint now) {
    const std::uint8_t function = request[1];
    const std::uint16_t first = Word(request, 2);
    std::vector<std::uint16_t> values;
    if (function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
        values.push_back(Word(request, 4));
    } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        const std::size_t count = Word(request, 4);
        // A malformed count is libmodbus's to refuse; it answers exception 0x03.
        if (count >= 1 && count <= MODBUS_MAX_WRITE_REGISTERS && request[6] == 2 * count &&
            request.size() >= 9 + 2 * count)
            for (std::size_t k = 0; k < count; ++k)
                values.push_back(Word(request, 7 + 2 * k));
    }
    const bool isWrite = !values.empty();

    if (request[0] == kBroadcast) {
        // Broadcasts are never answered; only writes mean anything in them.
        if (isWrite && m_model.CheckWrite(function, first, values) == 0) {
            m_model.Write(first, values);
            m_model.CommitAddress();
        }
        return false;
    }
    if (refuse) {
        Refuse(request, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
        return true;
    }
    if (function == MODBUS_FC_READ_HOLDING_REGISTERS) {
        const int count = Word(request, 4);
        if (const std::uint8_t code = m_model.CheckRead(first, count)) {
            Refuse(request, code);
            return true;
        }
        for (int k = 0; k < count; ++k)
            m_map->tab_registers[first + k] =
                m_model.Read(static_cast<std::uint16_t>(first + k), now);
        Reply(request);
        return true;
    }
    if (isWrite) {
        if (const std::uint8_t code = m_model.CheckWrite(function, first, values)) {
            Refuse(request, code);
            return true;
        }
        if (first == reg::kOwnAddress && m_model.AnswersFromNewAddress()) {
            // The switch comes first, and the echo carries the new address; libmodbus takes
            // the answer's address from the request it is given.
            m_model.Write(first, values);
            m_model.CommitAddress();
            std::vector<std::uint8_t> echo = request;
            echo[0] = m_model.Address();
            Reply(echo);
            return true;
        }
        Reply(request);
        m_model.Write(first, values);
        // The write to the address register was answered from the old address; from now on
        // the meter answers to the new one.
        m_model.CommitAddress();
        return true;
    }
    if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        Reply(request);
        return true;
    }
    Refuse(request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    return true;
}

void MeterSlave::Reply(const std::vector<std::uint8_t>& request) {
    modbus_reply(m_ctx, request.data(), static_cast<int>(request.size()), m_map);
}

void MeterSlave::Refuse(const std::vector<std::uint8_t>& request, std::uint8_t code) {
    modbus_reply_exception(m_ctx, request.data(), code);
}

} // namespace md::sim
