#pragma once
// Small helpers the tests share: frames written as hex, what a scripted port sent and how long
// it waited for the answer, and a temporary current directory.

#include "fakes/FakePort.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace md {

// Whether the C library writes decimals with a comma, as under de_DE.UTF-8: without it, a test
// of locale-free numbers would pass whatever the code does.
inline bool DecimalCommaInForce() {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return QByteArray(text) == "1,5";
}

// Bytes from hex text such as "010300000001840a" (blanks allowed, as captures show them).
inline std::vector<std::uint8_t> Bytes(const QByteArray& hex) {
    const QByteArray raw = QByteArray::fromHex(hex);
    return {raw.begin(), raw.end()};
}

inline QByteArray HexOf(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex();
}

// Every frame the port sent, in lower-case hex.
inline std::vector<std::string> SentHex(const FakePort& port) {
    std::vector<std::string> hex;
    for (const FakePort::Sent& s : port.Outputs())
        hex.push_back(ToHex(s.bytes));
    return hex;
}

// Time from the request going out to the first read of the count: the wait.
inline std::uint64_t WaitOf(const FakePort& port) {
    std::uint64_t sent = 0;
    for (const FakePort::Event& e : port.Events()) {
        if (e.what.rfind("Output=", 0) == 0)
            sent = e.at;
        if (e.what == "InBufferCount?")
            return e.at - sent;
    }
    return ~0ULL;
}

// A fresh temporary directory as the current one while it lives (files the program writes
// beside itself land there).
class TempCurrentDir {
public:
    TempCurrentDir() : m_old(QDir::currentPath()) { m_entered = QDir::setCurrent(m_dir.path()); }
    ~TempCurrentDir() { QDir::setCurrent(m_old); }
    TempCurrentDir(const TempCurrentDir&) = delete;
    TempCurrentDir& operator=(const TempCurrentDir&) = delete;
    bool IsValid() const { return m_dir.isValid() && m_entered; }

private:
    QString m_old;
    QTemporaryDir m_dir;
    bool m_entered = false;
};

} // namespace md
