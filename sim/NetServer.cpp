#include "sim/NetServer.h"

#include "trace/TraceText.h"
#include "sim/Frames.h"
#include "sim/StopSignals.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace md::sim {

namespace {

constexpr std::size_t kMbapLength = 7; // transaction, protocol, length, unit
constexpr std::size_t kMaxPeers = 16;
// A peer that stops reading must not make the server hoard its answers without end.
constexpr std::size_t kMaxQueuedForPeer = 1 << 20;
constexpr std::size_t kHexShown = 48;

void Print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "127.0.0.1:5020", "[::1]:5020".
std::string HostPort(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (a.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return std::string(host) + ":" + std::to_string(port);
}

// The RTU frame that carries the same request or answer: unit identifier, PDU, check bytes.
// The trace reads Modbus TCP through it in the words it uses for a line.
std::vector<std::uint8_t> AsRtu(std::span<const std::uint8_t> adu) {
    std::vector<std::uint8_t> rtu(adu.begin() + std::min(adu.size(), kMbapLength - 1), adu.end());
    rtu.resize(rtu.size() + 2);
    Recrc(rtu);
    return rtu;
}

} // namespace

NetServer::NetServer(std::string address, const std::string& port, int lineRate, Meters& meters,
                     FaultPlan& faults, bool trace)
    : m_address(std::move(address)), m_lineRate(lineRate), m_meters(meters), m_faults(faults),
      m_trace(trace) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_capture) != 0)
        throw std::runtime_error(std::string("socket pair: ") + std::strerror(errno));
    try {
        Listen(port);
    } catch (...) {
        close(m_capture[0]);
        close(m_capture[1]);
        throw;
    }
}

NetServer::~NetServer() {
    for (Peer& p : m_peers)
        close(p.fd);
    m_slave.reset();
    close(m_capture[0]);
    close(m_capture[1]);
}

void NetServer::Listen(const std::string& port) {
    m_slave = std::make_unique<MeterSlave>(m_address, port, m_meters.First());
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (getsockname(m_slave->Fd(), reinterpret_cast<sockaddr*>(&local), &len) == 0)
        m_port = ntohs(local.ss_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6&>(local).sin6_port
                           : reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

std::string NetServer::Where() const {
    const bool v6 = m_address.find(':') != std::string::npos;
    return (v6 ? "[" + m_address + "]" : m_address) + ":" + std::to_string(m_port);
}

void NetServer::Run(const CommandInput& onInput) {
    const StopSignals signals;
    while (!m_quit && !signals.Stopped()) {
        std::erase_if(m_peers, [](const Peer& p) { return p.fd < 0; });
        std::vector<pollfd> fds;
        fds.push_back({m_slave && !m_vanished ? m_slave->Fd() : -1, POLLIN, 0});
        for (const Peer& p : m_peers)
            fds.push_back({m_vanished ? -1 : p.fd,
                           static_cast<short>(POLLIN | (p.out.empty() ? 0 : POLLOUT)), 0});
        fds.push_back({m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});

        std::optional<Clock::time_point> wake = m_noise.NextDue();
        for (const Delivery& d : m_late)
            wake = wake ? std::min(*wake, d.due) : d.due;
        timespec timeout{};
        if (wake) {
            const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout = {static_cast<time_t>(ns / 1'000'000'000),
                       static_cast<long>(ns % 1'000'000'000)};
        }
        if (ppoll(fds.data(), fds.size(), wake ? &timeout : nullptr, signals.WaitMask()) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds.front().revents & POLLIN)
            Accept();
        // Peers accepted just now are polled next time round.
        for (std::size_t i = 0; i + 2 < fds.size() && i < m_peers.size(); ++i) {
            Peer& p = m_peers[i];
            const short events = fds[i + 1].revents;
            if (events & POLLOUT)
                Flush(p);
            if (p.fd >= 0 && (events & (POLLIN | POLLHUP | POLLERR)))
                Read(p);
        }
        std::erase_if(m_peers, [](const Peer& p) { return p.fd < 0; });

        const auto now = Clock::now();
        if (!m_vanished)
            m_noise.Send(m_peers.empty() ? -1 : m_peers.back().fd, m_faults.Rng(), now);
        std::vector<Delivery> due;
        std::erase_if(m_late, [&](Delivery& d) {
            if (d.due > now)
                return false;
            due.push_back(std::move(d));
            return true;
        });
        std::sort(due.begin(), due.end(),
                  [](const Delivery& a, const Delivery& b) { return a.due < b.due; });
        for (const Delivery& d : due)
            Deliver(d);
        std::erase_if(m_peers, [](const Peer& p) { return p.fd < 0; });

        if (fds.back().revents & (POLLIN | POLLHUP))
            ReadCommands(onInput);
    }
}

void NetServer::Accept() {
    const int fd = m_slave->Accept();
    if (fd < 0)
        return;
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
    const std::string name = HostPort(peer);
    if (m_peers.size() >= kMaxPeers) {
        close(fd);
        Note(name + " refused: " + std::to_string(kMaxPeers) + " connections already");
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_peers.push_back({m_nextPeer++, fd, name, {}});
    Note(name + " connected");
}

void NetServer::Read(Peer& p) {
    std::uint8_t first = 0;
    const ssize_t n = recv(p.fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) {
        Drop(p, "closed by the peer", false);
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            Drop(p, std::string("lost: ") + std::strerror(errno), false);
        return;
    }
    m_slave->Use(p.fd);
    const auto request = m_slave->Receive();
    if (!request) {
        Note(p.name + ": bytes that are no Modbus TCP request, dropped");
        return;
    }
    OnRequest(p, *request);
}

void NetServer::OnRequest(Peer& p, const std::vector<std::uint8_t>& request) {
    // A strict server: a request is protocol 0 and its length counts exactly what follows it.
    // A client that gets an answer to a malformed frame learns nothing about its own framing.
    std::string refused;
    if (request.size() < kMbapLength)
        refused = "no MBAP header";
    else if (const unsigned protocol = request[2] << 8 | request[3]; protocol != 0)
        refused = "protocol " + std::to_string(protocol);
    else if (const std::size_t length = request[4] << 8 | request[5]; length + 6 != request.size())
        refused =
            "length " + std::to_string(length) + ", not " + std::to_string(request.size() - 6);
    if (!refused.empty()) {
        Trace("->", request, "", refused + ": refused");
        return;
    }
    const std::vector<std::uint8_t> rtu = AsRtu(request);
    const std::uint8_t unit = request[kMbapLength - 1];
    std::string meaning = DescribeRequest(rtu);
    MeterModel* named = unit == 0 ? nullptr : m_meters.Find(unit);
    std::vector<MeterModel*> hearing; // for a broadcast, every meter at the line's rate
    for (MeterModel& m : m_meters.All())
        if ((unit == 0 || &m == named) && m.LinkRate() == m_lineRate)
            hearing.push_back(&m);
    // Whose ear the trace speaks of: the meter named; for a broadcast, or alone on the line
    // whoever is named, the first.
    const MeterModel* listener = named                              ? named
                                 : unit == 0 || !m_meters.Several() ? &m_meters.First()
                                                                    : nullptr;
    if (listener && hearing.empty() && listener->LinkRate() != m_lineRate) {
        // The meter switched its rate; the gateway's line did not follow.
        Trace("->", request, meaning,
              (named ? Who(unit) : "") + (named && m_meters.Several() ? "; " : "") +
                  "not heard: line at " + std::to_string(m_lineRate) + " bit/s, meter at " +
                  std::to_string(listener->LinkRate()) + " bit/s");
        return;
    }
    if (!named && unit != 0) {
        Trace("->", request, meaning, "for address " + std::to_string(unit) + ": ignored");
        return;
    }
    Trace("->", request, meaning, named ? Who(unit) : "");
    if (!named) {
        // A broadcast is acted on by each meter that hears it, and answered by none.
        for (MeterModel* m : hearing) {
            m_slave->Serve(*m);
            m_slave->Answer(request, 0, std::chrono::system_clock::now());
            CommitLinkRate(*m);
        }
        return;
    }
    const Fault fault = m_faults.Pick(rtu);
    m_slave->Serve(*named);
    m_slave->Use(m_capture[0]);
    const bool answered =
        m_slave->Answer(request, RefusalOf(fault.kind), std::chrono::system_clock::now());
    m_slave->Use(-1);
    if (!answered) {
        CommitLinkRate(*named);
        return;
    }
    const std::vector<std::uint8_t> answer = Captured();
    Delivery d;
    d.peer = p.id;
    d.meaning = meaning + " -> " + AnswerText(AsRtu(answer));
    d.notes = Who(unit);
    if (fault.kind != FaultKind::None) {
        Fault shown = fault;
        shown.remaining = -1;
        shown.probability = 1;
        shown.address = 0;
        d.notes += (d.notes.empty() ? "fault " : "; fault ") + FaultText(shown);
    }
    d.answer = Spoil(fault.kind, fault.lateMs, answer, m_faults.Rng(), kMbapLength);
    if (d.answer.lost) {
        Trace("<-", answer, d.meaning, d.notes + ": answer lost");
    } else if (d.answer.delayMs > 0) {
        d.due = Clock::now() + std::chrono::milliseconds(d.answer.delayMs);
        m_late.push_back(std::move(d));
    } else {
        Deliver(d);
    }
    CommitLinkRate(*named);
}

// The answer libmodbus has just written into the capture pair: its MBAP header says how long.
std::vector<std::uint8_t> NetServer::Captured() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[512];
    for (;;) {
        const ssize_t n = recv(m_capture[1], chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void NetServer::Deliver(const Delivery& d) {
    std::string notes = d.notes;
    const auto add = [&](const std::string& note) { notes += (notes.empty() ? "" : "; ") + note; };
    if (d.answer.noise)
        add(std::to_string(d.answer.noise) + " noise bytes before");
    const auto p = std::find_if(m_peers.begin(), m_peers.end(),
                                [&](const Peer& peer) { return peer.id == d.peer && peer.fd >= 0; });
    if (p == m_peers.end() || m_vanished) {
        add("peer gone: lost");
    } else if (p->out.size() + d.answer.bytes.size() > kMaxQueuedForPeer) {
        add("the peer is not reading: dropped");
    } else {
        p->out.insert(p->out.end(), d.answer.bytes.begin(), d.answer.bytes.end());
        Flush(*p);
    }
    Trace("<-", std::span(d.answer.bytes).subspan(d.answer.noise), d.meaning, notes);
}

void NetServer::Flush(Peer& p) {
    if (p.fd < 0 || p.out.empty())
        return;
    const ssize_t n = send(p.fd, p.out.data(), p.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
        p.out.erase(p.out.begin(), p.out.begin() + n);
    else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        Drop(p, std::string("lost: ") + std::strerror(errno), false);
}

void NetServer::Drop(Peer& p, const std::string& why, bool reset) {
    if (reset) {
        // Closing with a zero linger sends a reset, as a gateway that restarts does.
        const linger now{1, 0};
        setsockopt(p.fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    close(p.fd);
    p.fd = -1;
    p.out.clear();
    Note(p.name + " " + why);
}

void NetServer::CommitLinkRate(MeterModel& meter) {
    if (meter.CommitLinkRate())
        Note("meter " + (m_meters.Several() ? std::to_string(meter.Address()) + " " : "") +
             "now at " + std::to_string(meter.LinkRate()) + " bit/s, the line at " +
             std::to_string(m_lineRate) + " bit/s");
}

std::string NetServer::Who(int unit) const {
    return m_meters.Several() ? "meter " + std::to_string(unit) : std::string();
}

void NetServer::Unplug() {
    for (Peer& p : m_peers)
        if (p.fd >= 0)
            Drop(p, "reset", true);
    m_late.clear();
    m_slave.reset();
    m_vanished = false;
    Note("unplugged: nothing listens on " + Where());
}

bool NetServer::Vanish(std::string& error) {
    if (!m_slave) {
        error = "unplugged already";
        return false;
    }
    m_vanished = true;
    m_late.clear();
    Note("vanished: connections stay open, nothing is read or answered");
    return true;
}

bool NetServer::Replug(std::string& error, const std::string& note) {
    if (m_slave && !m_vanished) {
        error = "the server is serving already";
        return false;
    }
    if (!m_slave) {
        try {
            Listen(std::to_string(m_port));
        } catch (const std::exception& e) {
            error = e.what();
            return false;
        }
    }
    m_vanished = false;
    Note(note + ": " + Where());
    return true;
}

void NetServer::SetNoise(std::uint64_t bytesPerSecond) {
    m_noise.SetRate(bytesPerSecond, m_faults.Rng(), Clock::now());
    Note(bytesPerSecond ? "noise " + std::to_string(bytesPerSecond) + " bytes/s" : "noise off");
}

void NetServer::Note(const std::string& text) {
    if (m_trace)
        Print(TraceLine("--", "", text));
}

void NetServer::ReadCommands(const CommandInput& onInput) {
    char chunk[1024];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_stdinOpen = false;
        return;
    }
    for (const std::string& reply : onInput(std::string_view(chunk, static_cast<std::size_t>(n))))
        Print(reply);
}

void NetServer::Trace(const char* direction, std::span<const std::uint8_t> bytes,
                      const std::string& meaning, const std::string& notes) {
    if (m_trace)
        Print(TraceLine(direction, TraceHex(bytes, kHexShown), meaning, notes));
}

} // namespace md::sim
