#include "sim/Slave.h"

#include "meter/Registers.h"

#include <modbus/modbus.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace md::sim {

namespace {

constexpr int kRegisters = 0x0400; // covers every register of the map
// Requests arrive whole from the relay, so a pause inside one means it has ended.
constexpr int kByteTimeoutUs = 50'000;
constexpr std::uint8_t kBroadcast = 0;
constexpr std::size_t kMbapHeader = 7;
// Connections waiting to be accepted: a lab's few PCs.
constexpr int kBacklog = 8;

std::uint16_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

} // namespace

MeterSlave::MeterSlave(const std::string& device, MeterModel& model) : m_model(&model) {
    m_ctx = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
    if (!m_ctx)
        throw std::runtime_error("cannot create the Modbus server: " +
                                 std::string(modbus_strerror(errno)));
    modbus_set_slave(m_ctx, m_model->Address());
    modbus_set_byte_timeout(m_ctx, 0, kByteTimeoutUs);
    if (modbus_connect(m_ctx) == -1) {
        const std::string why = modbus_strerror(errno);
        modbus_free(m_ctx);
        throw std::runtime_error("cannot open " + device + ": " + why);
    }
    Map();
}

MeterSlave::MeterSlave(const std::string& address, const std::string& port, MeterModel& model)
    : m_model(&model) {
    m_ctx = modbus_new_tcp_pi(address.c_str(), port.c_str());
    if (!m_ctx)
        throw std::runtime_error("cannot create the Modbus TCP server: " +
                                 std::string(modbus_strerror(errno)));
    modbus_set_byte_timeout(m_ctx, 0, kByteTimeoutUs);
    m_listenFd = modbus_tcp_pi_listen(m_ctx, kBacklog);
    if (m_listenFd == -1) {
        const std::string why = modbus_strerror(errno);
        modbus_free(m_ctx);
        throw std::runtime_error("cannot listen on " + address + " port " + port + ": " + why);
    }
    Map();
}

void MeterSlave::Map() {
    m_map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisters, 0, 0);
    if (!m_map) {
        if (m_listenFd >= 0)
            close(m_listenFd);
        modbus_close(m_ctx);
        modbus_free(m_ctx);
        throw std::runtime_error("cannot allocate the register mapping");
    }
}

MeterSlave::~MeterSlave() {
    modbus_mapping_free(m_map);
    if (m_listenFd >= 0) {
        // The connections belong to the caller; only the listening socket is ours.
        modbus_set_socket(m_ctx, -1);
        close(m_listenFd);
    }
    modbus_close(m_ctx);
    modbus_free(m_ctx);
}

int MeterSlave::Fd() const {
    return m_listenFd >= 0 ? m_listenFd : modbus_get_socket(m_ctx);
}

int MeterSlave::Accept() {
    int listening = m_listenFd;
    return modbus_tcp_pi_accept(m_ctx, &listening);
}

void MeterSlave::Use(int socket) {
    modbus_set_socket(m_ctx, socket);
}

std::size_t MeterSlave::HeaderLength() const {
    return static_cast<std::size_t>(modbus_get_header_length(m_ctx));
}

std::optional<std::vector<std::uint8_t>> MeterSlave::Receive() {
    std::uint8_t buf[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_slave(m_ctx, m_model->Address());
    const int n = modbus_receive(m_ctx, buf);
    // libmodbus reads only as far as the function code says; a frame it cannot lay out leaves
    // bytes behind that must not start the next request. Over TCP the MBAP length tells a
    // whole request, which the next one may follow at once and must not be flushed away.
    const bool whole = m_listenFd >= 0 && n >= static_cast<int>(kMbapHeader) &&
                       (buf[4] << 8 | buf[5]) + 6 == n;
    if (!whole)
        modbus_flush(m_ctx);
    if (n <= 0)
        return std::nullopt;
    return std::vector<std::uint8_t>(buf, buf + n);
}

bool MeterSlave::Answer(const std::vector<std::uint8_t>& request, std::uint8_t refuse,
                        MeterModel::TimePoint now) {
    // The same layout behind the address (RTU) or the MBAP header (TCP).
    const std::size_t h = HeaderLength();
    const std::uint8_t unit = request[h - 1];
    const std::uint8_t function = request[h];
    const std::uint16_t first = Word(request, h + 1);
    std::vector<std::uint16_t> values;
    if (function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
        values.push_back(Word(request, h + 3));
    } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        const std::size_t count = Word(request, h + 3);
        // A malformed count is libmodbus's to refuse; it answers exception 0x03.
        if (count >= 1 && count <= MODBUS_MAX_WRITE_REGISTERS && request[h + 5] == 2 * count &&
            request.size() >= h + 6 + 2 * count)
            for (std::size_t k = 0; k < count; ++k)
                values.push_back(Word(request, h + 6 + 2 * k));
    }
    const bool isWrite = !values.empty();

    if (unit == kBroadcast) {
        // Broadcasts are never answered; only writes mean anything in them.
        if (isWrite && m_model->CheckWrite(function, first, values) == 0) {
            m_model->Write(first, values);
            m_model->CommitAddress();
        }
        return false;
    }
    if (refuse != 0) {
        Refuse(request, refuse);
        return true;
    }
    if (function == MODBUS_FC_READ_HOLDING_REGISTERS) {
        const int count = Word(request, h + 3);
        if (const std::uint8_t code = m_model->CheckRead(first, count)) {
            Refuse(request, code);
            return true;
        }
        for (int k = 0; k < count; ++k)
            m_map->tab_registers[first + k] =
                m_model->Read(static_cast<std::uint16_t>(first + k), now);
        Reply(request);
        return true;
    }
    if (isWrite) {
        if (const std::uint8_t code = m_model->CheckWrite(function, first, values)) {
            Refuse(request, code);
            return true;
        }
        if (first == reg::kOwnAddress && m_model->AnswersFromNewAddress()) {
            // The switch comes first, and the echo carries the new address; libmodbus takes
            // the answer's address from the request it is given.
            m_model->Write(first, values);
            m_model->CommitAddress();
            std::vector<std::uint8_t> echo = request;
            echo[h - 1] = m_model->Address();
            Reply(echo);
            return true;
        }
        Reply(request);
        m_model->Write(first, values);
        // The write to the address register was answered from the old address; from now on
        // the meter answers to the new one.
        m_model->CommitAddress();
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
