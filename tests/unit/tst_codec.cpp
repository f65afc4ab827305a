// Frames as hex rows, so each can be checked against a line capture.

#include "fakes/Support.h"
#include "modbus/Crc.h"
#include "modbus/Frame.h"

#include <QtTest>

#include <array>
#include <vector>

using namespace md;

class tst_codec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void CalcCrc16GivesTheCheckBytesInWireOrder_data();
    void CalcCrc16GivesTheCheckBytesInWireOrder();
    void BuildersWriteTheWholeFrameAndNothingBeyond_data();
    void BuildersWriteTheWholeFrameAndNothingBeyond();
    void FindResponseLocatesTheEarliestValidAnswer_data();
    void FindResponseLocatesTheEarliestValidAnswer();
    void InterFrameGapIsThreeAndAHalfCharactersRoundedUp_data();
    void InterFrameGapIsThreeAndAHalfCharactersRoundedUp();
};

void tst_codec::CalcCrc16GivesTheCheckBytesInWireOrder_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("check");
    QTest::newRow("read one register") << QByteArray("010300000001") << QByteArray("840a");
    QTest::newRow("read ten registers") << QByteArray("01030000000a") << QByteArray("c5cd");
    QTest::newRow("write single") << QByteArray("010600010003") << QByteArray("980b");
    QTest::newRow("read at address 0x11") << QByteArray("1103006b0003") << QByteArray("7687");
    QTest::newRow("write multiple") << QByteArray("01100001000204000a0102") << QByteArray("9230");
    QTest::newRow("check string 123456789")
        << QByteArray("313233343536373839") << QByteArray("374b");
    QTest::newRow("nothing: the initial value") << QByteArray() << QByteArray("ffff");
}

void tst_codec::CalcCrc16GivesTheCheckBytesInWireOrder() {
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, check);
    const std::uint16_t crc = CalcCrc16(Bytes(frame));
    const std::array<std::uint8_t, 2> wire{std::uint8_t(crc >> 8), std::uint8_t(crc & 0xFF)};
    QCOMPARE(HexOf(wire), HexOf(Bytes(check)));
}

void tst_codec::BuildersWriteTheWholeFrameAndNothingBeyond_data() {
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value"); // register count for 0x03
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read 1 at 0x0000") << 0x03 << 1 << 0x0000 << 1 << QByteArray("010300000001840a");
    QTest::newRow("read 3 at 0x0000, address 5")
        << 0x03 << 5 << 0x0000 << 3 << QByteArray("050300000003044f");
    QTest::newRow("read 1 at 0x0006") << 0x03 << 1 << 0x0006 << 1 << QByteArray("010300060001640b");
    QTest::newRow("write 70000 keeps its low 16 bits")
        << 0x06 << 1 << 0x0002 << 70000 << QByteArray("01060002117025be");
    QTest::newRow("write -1 as two's complement")
        << 0x06 << 1 << 0x0002 << -1 << QByteArray("01060002ffff29ba");
    QTest::newRow("baud code 19200 at address 5")
        << 0x06 << 5 << 0x0008 << 4 << QByteArray("050600080004084f");
    QTest::newRow("write two registers, 13 bytes")
        << 0x10 << 1 << 0x0000 << 70000 << QByteArray("0110000000020411700000f748");
}

void tst_codec::BuildersWriteTheWholeFrameAndNothingBeyond() {
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(QByteArray, frame);
    // What an earlier, longer request left behind must survive.
    std::array<std::uint8_t, 16> buf;
    buf.fill(0xEE);
    const auto a = std::uint8_t(address);
    const auto r = std::uint16_t(reg);
    int len = 0;
    if (function == kFnReadHolding)
        len = BuildReadRequest(buf, a, r, std::uint16_t(value));
    else if (function == kFnWriteSingle)
        len = BuildWriteSingleRequest(buf, a, r, value);
    else
        len = BuildWriteDoubleRequest(buf, a, r, value);
    const std::vector<std::uint8_t> want = Bytes(frame);
    QCOMPARE(len, int(want.size()));
    QCOMPARE(HexOf(std::span(buf).first(std::size_t(len))), HexOf(want));
    for (std::size_t i = std::size_t(len); i < buf.size(); ++i)
        QCOMPARE(buf[i], std::uint8_t(0xEE));
}

void tst_codec::FindResponseLocatesTheEarliestValidAnswer_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("received"); // -1: every byte of data
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("offset");

    const QByteArray answer = "01030200023985"; // register value 2
    const QByteArray other = "0103020007f986";  // register value 7
    QTest::newRow("received equals expected") << answer << -1 << 0x03 << 1 << 7 << 0;
    QTest::newRow("behind three stray bytes") << "ff0103" + answer << -1 << 0x03 << 1 << 7 << 3;
    QTest::newRow("with bytes after it") << answer + "0001" << -1 << 0x03 << 1 << 7 << 0;
    QTest::newRow("two answers: the earlier wins")
        << "00" + answer + other << -1 << 0x03 << 1 << 7 << 1;
    QTest::newRow("only position 0 when received equals expected")
        << "00" + answer << 7 << 0x03 << 1 << 7 << -1;
    QTest::newRow("truncated answer") << answer << 6 << 0x03 << 1 << 7 << -1;
    QTest::newRow("nothing received") << answer << 0 << 0x03 << 1 << 7 << -1;
    QTest::newRow("other address") << QByteArray("0503020002c845") << -1 << 0x03 << 1 << 7 << -1;
    QTest::newRow("other function") << answer << -1 << 0x06 << 1 << 7 << -1;
    QTest::newRow("first check byte wrong")
        << QByteArray("01030200023885") << -1 << 0x03 << 1 << 7 << -1;
    QTest::newRow("second check byte wrong")
        << QByteArray("01030200023986") << -1 << 0x03 << 1 << 7 << -1;
    QTest::newRow("exception answer") << QByteArray("018302c0f10000") << -1 << 0x03 << 1 << 7 << -1;
    QTest::newRow("byte count is not compared")
        << QByteArray("01030900024847") << -1 << 0x03 << 1 << 7 << 0;
    QTest::newRow("write echo") << "aa" + QByteArray("01060002117025be") << -1 << 0x06 << 1 << 8
                                << 1;
    QTest::newRow("write multiple answer")
        << QByteArray("01100000000241c8") << -1 << 0x10 << 1 << 8 << 0;
    // Counts the copy cannot back: the scan stays inside the data it was given.
    QTest::newRow("received beyond the data") << answer << 32767 << 0x03 << 1 << 7 << 0;
    QTest::newRow("received beyond the data, answer cut")
        << answer.left(12) << 300 << 0x03 << 1 << 7 << -1;
    QTest::newRow("negative received") << answer << -5 << 0x03 << 1 << 7 << -1;
    QTest::newRow("expected too short for a frame") << answer << -1 << 0x03 << 1 << 1 << -1;
    QTest::newRow("negative expected") << answer << -1 << 0x03 << 1 << -7 << -1;
}

void tst_codec::FindResponseLocatesTheEarliestValidAnswer() {
    QFETCH(QByteArray, data);
    QFETCH(int, received);
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, expected);
    QFETCH(int, offset);
    const std::vector<std::uint8_t> bytes = Bytes(data);
    const auto n = std::int16_t(received == -1 ? int(bytes.size()) : received);
    QCOMPARE(int(FindResponse(bytes, n, std::uint8_t(function), std::uint8_t(address),
                              std::int16_t(expected))),
             offset);
}

void tst_codec::InterFrameGapIsThreeAndAHalfCharactersRoundedUp_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("parity");
    QTest::addColumn<uint>("ms");
    // 38.5 bit times without parity: 32.08, 16.04, 8.02, 4.01 and 2.005 ms; never rounded down.
    QTest::newRow("1200") << 1200 << false << 33u;
    QTest::newRow("2400") << 2400 << false << 17u;
    QTest::newRow("4800") << 4800 << false << 9u;
    QTest::newRow("9600") << 9600 << false << 5u;
    QTest::newRow("19200") << 19200 << false << 3u;
    QTest::newRow("exactly 2 ms") << 19250 << false << 2u;
    QTest::newRow("38400: 1.003 ms, raised to 2") << 38400 << false << 2u;
    // The parity bit makes a character 12 bits: 42 bit times.
    QTest::newRow("1200 with parity: 35 ms") << 1200 << true << 35u;
    QTest::newRow("9600 with parity: 4.375 ms") << 9600 << true << 5u;
    QTest::newRow("exactly 2 ms with parity") << 21000 << true << 2u;
}

void tst_codec::InterFrameGapIsThreeAndAHalfCharactersRoundedUp() {
    QFETCH(int, rate);
    QFETCH(bool, parity);
    QFETCH(uint, ms);
    QCOMPARE(InterFrameGapMs(rate, parity), ms);
    // The same character on the wire: the gap is 3.5 of them, to the millisecond above.
    QVERIFY(WireTimeUs(7, rate, parity) <= 2000 * quint64(ms));
}

QTEST_APPLESS_MAIN(tst_codec)
#include "tst_codec.moc"
