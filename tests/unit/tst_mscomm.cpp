// The serial port control on a real device: a pseudo-terminal whose far end the test plays.

#include "fakes/PseudoTerminal.h"
#include "link/Clock.h"
#include "link/Exchange.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "port/PortList.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using md::CMSComm;
using md::CommError;
using md::LineSettings;
using md::PseudoTerminal;

Q_DECLARE_METATYPE(md::LineSettings)

namespace {

QByteArray Bytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

// The error text of what throws, or an empty string when nothing did.
template <typename Fn> QString ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const CommError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

} // namespace

class TestMSComm : public QObject {
    Q_OBJECT

    std::unique_ptr<PseudoTerminal> m_pty;

    speed_t Speed() const {
        const termios t = m_pty->Attributes();
        return cfgetospeed(&t);
    }

    // 1000 bytes more than the control holds, in two parts: the kernel's side of a
    // pseudo-terminal holds only a few KiB itself.
    void SendBurstBeyondTheControl() {
        m_pty->WriteMaster(QByteArray(CMSComm::kReadBufferBytes, '\x55'));
        QTest::qWait(50);
        m_pty->WriteMaster(QByteArray(1000, '\x55'));
        QTest::qWait(50);
    }

    void OpenOnPty(CMSComm& comm, const std::string& settings, int port = 1) {
        comm.SetDevice(port, m_pty->SlavePath());
        comm.SetCommPort(static_cast<std::int16_t>(port));
        comm.SetSettings(settings);
        comm.SetPortOpen(true);
    }

private Q_SLOTS:
    void init() { m_pty = std::make_unique<PseudoTerminal>(); }
    void cleanup() { m_pty.reset(); }

    void parsesSettingsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<LineSettings>("expected");
        using S = LineSettings::StopBits;
        QTest::newRow("program form") << "9600N,8,2" << true << LineSettings{9600, 'N', 8, S::Two};
        QTest::newRow("comma form") << "9600,N,8,2" << true << LineSettings{9600, 'N', 8, S::Two};
        QTest::newRow("odd") << "19200O,8,2" << true << LineSettings{19200, 'O', 8, S::Two};
        QTest::newRow("even, lower case")
            << "1200,e,7,1" << true << LineSettings{1200, 'E', 7, S::One};
        QTest::newRow("one and a half")
            << "115200m,5,1.5" << true << LineSettings{115200, 'M', 5, S::OneAndHalf};
        QTest::newRow("space parity") << "300S,6,1" << true << LineSettings{300, 'S', 6, S::One};
        for (const char* bad :
             {"", "N,8,2", "0N,8,2", "-9600N,8,2", "+9600N,8,2", "9600X,8,2", "9600N,9,2",
              "9600N,4,2", "9600N,8,3", "9600N,8", "9600N,8,2 ", " 9600N,8,2", "9600N,8,2,",
              "99999999999N,8,2", "9600,,N,8,2", "9600N;8;2", "9600"})
            QTest::newRow(qPrintable(QStringLiteral("refuses '%1'").arg(QLatin1String(bad))))
                << QString::fromLatin1(bad) << false << LineSettings{};
    }
    void parsesSettingsText() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(LineSettings, expected);
        const auto parsed = md::ParseSettings(text.toStdString());
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QVERIFY(*parsed == expected);
    }

    void mapsPortNumbersToDevices() {
        QCOMPARE(md::DeviceForPort(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(md::DeviceForPort(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(md::DeviceForPort(0), QString());
        QCOMPARE(md::DeviceForPort(-1), QString());

        CMSComm comm;
        comm.SetCommPort(2);
        comm.SetDevice(2, QStringLiteral("/tmp/meter-line"));
        QCOMPARE(comm.Device(), QStringLiteral("/tmp/meter-line"));
        comm.SetCommPort(1);
        QCOMPARE(comm.Device(), QStringLiteral("/dev/ttyS0"));
        // An empty device restores the platform's own.
        comm.SetCommPort(2);
        comm.SetDevice(2, QString());
        QCOMPARE(comm.Device(), QStringLiteral("/dev/ttyS1"));
    }

    void putsTheSettingsOnTheDevice_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<char>("parity");
        for (const int baud : {1200, 2400, 4800, 9600, 19200})
            for (const char parity : {'N', 'O', 'E'})
                QTest::addRow("%d%c", baud, parity) << baud << parity;
    }
    void putsTheSettingsOnTheDevice() {
        QFETCH(int, baud);
        QFETCH(char, parity);
        CMSComm comm;
        OpenOnPty(comm, std::to_string(baud) + parity + ",8,2");
        const termios t = m_pty->Attributes();
        QCOMPARE(cfgetospeed(&t), md::SpeedConstant(baud));
        QCOMPARE(cfgetispeed(&t), md::SpeedConstant(baud));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(t.c_cflag & CSTOPB);
        // A pseudo-terminal keeps PARODD but always clears PARENB, so parity shows only as
        // odd or not odd here.
        QCOMPARE(bool(t.c_cflag & PARODD), parity == 'O');
        // Raw bytes: nothing may translate CR/LF or eat the protocol's control bytes.
        QVERIFY(!(t.c_lflag & ICANON));
        QVERIFY(!(t.c_iflag & (ICRNL | IXON)));
        QVERIFY(!(t.c_oflag & OPOST));
    }

    void changesSettingsOfAnOpenPort() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        comm.SetSettings("19200,N,8,1");
        const termios t = m_pty->Attributes();
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QVERIFY(!(t.c_cflag & CSTOPB));
        QCOMPARE(comm.GetSettings(), std::string("19200,N,8,1"));
    }

    void refusedSettingsKeepThePreviousOnes() {
        CMSComm comm;
        OpenOnPty(comm, "4800O,8,2");
        const QString error = ErrorOf([&] { comm.SetSettings("4800Q,8,2"); });
        QVERIFY(error.contains(QStringLiteral("COM1")));
        QVERIFY(error.contains(m_pty->SlavePath()));
        QVERIFY(error.contains(QStringLiteral("4800Q,8,2")));
        QCOMPARE(comm.GetSettings(), std::string("4800O,8,2"));
        QCOMPARE(Speed(), speed_t(B4800));
    }

    // A pseudo-terminal takes the new speed but refuses parity on an open line: the speed
    // already changed must be put back, and the error must name the text that was refused.
    void settingsTheDeviceRefusesLeaveTheLineAsItWas() {
        CMSComm comm;
        OpenOnPty(comm, "4800N,8,2");
        const QString error = ErrorOf([&] { comm.SetSettings("9600N,7,2"); });
        QVERIFY2(error.contains(QStringLiteral("9600N,7,2")), qPrintable(error));
        QCOMPARE(comm.GetSettings(), std::string("4800N,8,2"));
        QCOMPARE(Speed(), speed_t(B4800));
    }

    // A pseudo-terminal keeps only the odd flag of the parity; a scan that steps through the
    // parities must leave it as the last setting says, or a meter would hear an old one.
    void parityStepsLeaveTheOddFlagAsTheLastSettingSays_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("odd");
        QTest::newRow("odd, then none") << QStringList{"9600O,8,2", "9600N,8,2"} << false;
        QTest::newRow("odd, then even") << QStringList{"9600O,8,2", "9600E,8,2"} << false;
        QTest::newRow("none, even, odd, odd") << QStringList{"9600N,8,2", "9600E,8,2", "2400O,8,2", "2400O,8,2"} << true;
    }
    void parityStepsLeaveTheOddFlagAsTheLastSettingSays() {
        QFETCH(QStringList, steps);
        QFETCH(bool, odd);
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        for (const QString& step : steps) {
            const QString error = ErrorOf([&] { comm.SetSettings(step.toStdString()); });
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
        QCOMPARE((m_pty->Attributes().c_cflag & PARODD) != 0, odd);
    }

    // Read back after parity was put: only a pseudo-terminal may drop parity enable; any other
    // device that did (a USB adapter whose driver cannot do parity) refused the parity.
    void parityIsTakenAsTheDeviceReadsItBack_data() {
        QTest::addColumn<char>("parity");
        QTest::addColumn<bool>("enabled"); // what the device reads back
        QTest::addColumn<bool>("odd");
        QTest::addColumn<bool>("pty");
        QTest::addColumn<bool>("taken");
        QTest::newRow("adapter, odd") << 'O' << true << true << false << true;
        QTest::newRow("adapter drops odd, keeps the flag") << 'O' << false << true << false << false;
        QTest::newRow("adapter keeps parity on none") << 'N' << true << false << false << false;
        QTest::newRow("pseudo-terminal, even") << 'E' << false << false << true << true;
    }
    void parityIsTakenAsTheDeviceReadsItBack() {
        QFETCH(char, parity);
        QFETCH(bool, enabled);
        QFETCH(bool, odd);
        QFETCH(bool, pty);
        QFETCH(bool, taken);
        QCOMPARE(md::ParityTaken(parity, {enabled, odd}, pty), taken);
    }

    void tellsAPseudoTerminalFromOtherDevices() {
        for (const QString& path : {m_pty->SlavePath(), QStringLiteral("/dev/null")}) {
            const int fd = ::open(qPrintable(path), O_RDWR | O_NOCTTY);
            QCOMPARE(md::IsPseudoTerminal(fd), path == m_pty->SlavePath());
            ::close(fd);
        }
    }

    void opensThroughASymlink() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("COM2"));
        QVERIFY(QFile::link(m_pty->SlavePath(), link));
        CMSComm comm;
        comm.SetDevice(2, link);
        comm.SetCommPort(2);
        comm.SetSettings("2400N,8,2");
        comm.SetPortOpen(true);
        QVERIFY(comm.GetPortOpen());
        QCOMPARE(Speed(), speed_t(B2400));
    }

    void outputReachesTheLineUnchanged() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        const QByteArray frame = QByteArray::fromHex("010300000003050b0d0a1100ff");
        comm.SetOutput(std::span(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                                 static_cast<std::size_t>(frame.size())));
        QCOMPARE(m_pty->ReadMaster().toHex(), frame.toHex());
    }

    // No event loop runs here: the control must fetch what the OS holds by itself.
    void inputIsPolledWithoutAnEventLoop() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        const QByteArray answer = QByteArray::fromHex("010306000100020003c4b5");
        m_pty->WriteMaster(answer);
        QTRY_COMPARE_WITH_TIMEOUT(comm.GetInBufferCount(), std::int16_t(answer.size()), 1000);
        QCOMPARE(Bytes(comm.GetInput()).toHex(), answer.toHex());
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        QVERIFY(comm.GetInput().empty());
    }

    // Sleeps in the OS: returns with the first bytes, or when the time is up having used next
    // to no processor time.
    void waitForInputBlocksUntilBytesOrTheTime() {
        CMSComm comm;
        QVERIFY(!comm.WaitForInput(1000)); // closed: nothing can come, no wait
        OpenOnPty(comm, "9600N,8,2");

        QElapsedTimer timer;
        timer.start();
        const auto cpu0 = ThreadCpuMs();
        QVERIFY(!comm.WaitForInput(300));
        QVERIFY2(timer.elapsed() >= 290, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(ThreadCpuMs() - cpu0 < 100, "the wait spun");

        std::thread far([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            m_pty->WriteMaster(QByteArray::fromHex("0103"));
        });
        timer.restart();
        const bool came = comm.WaitForInput(5000);
        far.join();
        QVERIFY(came);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        // Bytes already waiting answer at once, and stay for Input.
        timer.restart();
        QVERIFY(comm.WaitForInput(5000));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(Bytes(comm.GetInput()).toHex(), QByteArray("0103"));
    }

    void inputLenLimitsOneRead() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        comm.SetInputLen(2);
        m_pty->WriteMaster(QByteArray::fromHex("0a0b0c"));
        QTRY_COMPARE_WITH_TIMEOUT(comm.GetInBufferCount(), std::int16_t(3), 1000);
        QCOMPARE(Bytes(comm.GetInput()).toHex(), QByteArray("0a0b"));
        comm.SetInputLen(0);
        QCOMPARE(Bytes(comm.GetInput()).toHex(), QByteArray("0c"));
    }

    void zeroInBufferCountDropsWhatWaits() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        m_pty->WriteMaster(QByteArray::fromHex("ffff0103"));
        QTRY_COMPARE_WITH_TIMEOUT(comm.GetInBufferCount(), std::int16_t(4), 1000);
        // These stay with the OS until the next read; they must go too.
        m_pty->WriteMaster(QByteArray::fromHex("0506"));
        comm.SetInBufferCount(0);
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        QVERIFY(comm.GetInput().empty());
    }

    void closedPortReadsNothingRefusesOutputAndReopens() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        comm.SetPortOpen(false);
        QVERIFY(!comm.GetPortOpen());
        const std::uint8_t byte = 0x55;
        // SendFrame on a closed port stays silent.
        md::SendFrame(comm, &byte, 1);
        QVERIFY(m_pty->ReadMaster(20).isEmpty());
        const QString error = ErrorOf([&] { comm.SetOutput(std::span(&byte, 1)); });
        QVERIFY(error.contains(QStringLiteral("COM1")));
        m_pty->WriteMaster(QByteArray::fromHex("0102"));
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        QVERIFY(comm.GetInput().empty());

        // Reopening takes settings put while closed.
        comm.SetSettings("1200E,8,2");
        comm.SetPortOpen(true);
        QVERIFY(comm.GetPortOpen());
        QCOMPARE(Speed(), speed_t(B1200));
    }

    // However the control meets a hung-up line, it closes the port at once and says so once;
    // afterwards the closed port reads nothing, sends nothing and throws nothing.
    void hungUpLineIsClosedAndReportedLost_data() {
        QTest::addColumn<QString>("metBy");
        // A hang-up brings no bytes: a wait that it interrupts must see it, not sleep on.
        for (const char* by : {"send", "count", "input", "event loop", "wait"})
            QTest::newRow(by) << QString::fromLatin1(by);
    }
    void hungUpLineIsClosedAndReportedLost() {
        QFETCH(QString, metBy);
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0a};
        if (metBy == QLatin1String("wait")) {
            std::thread far([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                m_pty->CloseMaster();
            });
            QElapsedTimer timer;
            timer.start();
            const auto cpu0 = ThreadCpuMs();
            const bool came = comm.WaitForInput(3000);
            far.join();
            QVERIFY(!came);
            QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
            QVERIFY2(ThreadCpuMs() - cpu0 < 100, "the wait spun");
        } else {
            m_pty->CloseMaster();
        }

        if (metBy == QLatin1String("send"))
            md::SendFrame(comm, frame, 8);
        else if (metBy == QLatin1String("count"))
            QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        else if (metBy == QLatin1String("input"))
            QVERIFY(comm.GetInput().empty());
        else
            QTRY_VERIFY_WITH_TIMEOUT(!comm.GetPortOpen(), 1000);

        QVERIFY(!comm.GetPortOpen());
        const QString lost = QString::fromStdString(comm.LostReason());
        QVERIFY2(lost.contains(QStringLiteral("COM1")) && lost.contains(m_pty->SlavePath()) &&
                     lost.contains(QStringLiteral("已断开")),
                 qPrintable(lost));
        QCOMPARE(ErrorOf([&] { md::SendFrame(comm, frame, 8); }), QString());
        QCOMPARE(ErrorOf([&] { comm.SetOutput(frame); }), QString());
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        QVERIFY(comm.GetInput().empty());
        QTest::qWait(50);
        QCOMPARE(QString::fromStdString(comm.LostReason()), lost);
        // The node went with the far end: the one reopen attempt fails quietly.
        QVERIFY(!comm.Reopen());
        QCOMPARE(QString::fromStdString(comm.LostReason()), lost);
        // Pointed at another device meanwhile, the reason is why that one cannot be opened.
        comm.SetDevice(2, m_pty->SlavePath() + QStringLiteral(".absent"));
        comm.SetCommPort(2);
        QVERIFY(!comm.Reopen());
        QCOMPARE(
            QString::fromStdString(comm.LostReason()),
            QStringLiteral("无法打开串口 COM2（%1.absent）：设备不存在").arg(m_pty->SlavePath()));
        // Closing by hand ends the lost state.
        comm.SetPortOpen(false);
        QCOMPARE(comm.LostReason(), std::string());
    }

    // An adapter known by its stable name comes back under another kernel name (here the
    // name's link put to a new terminal, as udev does on a replug): the reopen follows the
    // name, with the settings that were in force.
    void lostPortReopensUnderItsStableName() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("usb-Maker_RS485_A1B2-if00-port0"));
        QVERIFY(QFile::link(m_pty->SlavePath(), link));
        QCOMPARE(md::StableNames(dir.path()).value(m_pty->SlavePath()), link);
        CMSComm comm;
        comm.SetDevice(1, link);
        comm.SetSettings("2400E,8,2");
        comm.SetPortOpen(true);
        QVERIFY(comm.Reopen()); // not lost: nothing to do
        m_pty->CloseMaster();
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0));
        QVERIFY(!comm.LostReason().empty());

        m_pty = std::make_unique<PseudoTerminal>();
        QVERIFY(QFile::remove(link) && QFile::link(m_pty->SlavePath(), link));
        QCOMPARE(md::StableNames(dir.path()).value(m_pty->SlavePath()), link);
        QVERIFY(comm.Reopen());
        QVERIFY(comm.GetPortOpen());
        QCOMPARE(comm.LostReason(), std::string());
        QCOMPARE(Speed(), speed_t(B2400));
        QCOMPARE(comm.GetSettings(), std::string("2400E,8,2"));
        const std::uint8_t byte = 0x5a;
        comm.SetOutput(std::span(&byte, 1));
        QCOMPARE(m_pty->ReadMaster().toHex(), QByteArray("5a"));
    }

    // Input that nobody reads while the event loop runs stays bounded in the control.
    void unreadInputIsBounded() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        SendBurstBeyondTheControl();
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(CMSComm::kReadBufferBytes));
        QCOMPARE(qint64(comm.GetInput().size()), CMSComm::kReadBufferBytes);
        QVERIFY(comm.GetPortOpen());
    }

    // A burst longer than the control holds leaves the older bytes with the driver; the flush
    // before a request must take those too, or they open the collection ahead of the answer.
    void flushBeforeARequestEmptiesTheDriverToo() {
        CMSComm comm;
        OpenOnPty(comm, "9600N,8,2");
        SendBurstBeyondTheControl();

        md::SteadyClock clock;
        md::CExchange x(comm, clock);
        const int len = md::BuildReadRequest(x.m_bySendBuf, 1, 0x0006, 1);
        std::thread far([&] {
            m_pty->ReadMaster(2000);
            m_pty->WriteMaster(QByteArray::fromHex("01030200023985"));
        });
        const int at = x.Transact(len, md::WaitKind::Sleep, 300, 0x03, 1, 7);
        far.join();
        QCOMPARE(at, 0);
    }

    void refusalsNameThePortAndTheDevice_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing device") << "missing" << QStringLiteral("设备不存在");
        QTest::newRow("regular file") << "file" << QStringLiteral("不是串口设备");
        QTest::newRow("directory") << "directory" << QStringLiteral("不是串口设备");
        QTest::newRow("held by another") << "held" << QStringLiteral("已被其他程序占用");
        QTest::newRow("no permission") << "denied" << QStringLiteral("没有访问该设备的权限");
        QTest::newRow("port 0") << "port0" << QStringLiteral("无效");
    }
    void refusalsNameThePortAndTheDevice() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString device = dir.filePath(QStringLiteral("absent"));
        CMSComm holder;
        if (kind == QLatin1String("file")) {
            device = dir.filePath(QStringLiteral("plain.txt"));
            QFile f(device);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("directory")) {
            device = dir.path();
        } else if (kind == QLatin1String("held")) {
            device = m_pty->SlavePath();
            OpenOnPty(holder, "9600N,8,2", 2);
        } else if (kind == QLatin1String("denied")) {
            if (::geteuid() == 0)
                QSKIP("root may open any device");
            device = m_pty->SlavePath();
            QVERIFY(::chmod(device.toLocal8Bit().constData(), 0) == 0);
        }
        CMSComm comm;
        comm.SetDevice(1, device);
        comm.SetSettings("9600N,8,2");
        const bool port0 = kind == QLatin1String("port0");
        comm.SetCommPort(port0 ? 0 : 1);
        const QString error = ErrorOf([&] { comm.SetPortOpen(true); });
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(error.contains(port0 ? QStringLiteral("COM0") : QStringLiteral("COM1")),
                 qPrintable(error));
        QVERIFY2(port0 || error.contains(device), qPrintable(error));
        QVERIFY(!comm.GetPortOpen());
    }
};

QTEST_GUILESS_MAIN(TestMSComm)
#include "tst_mscomm.moc"
