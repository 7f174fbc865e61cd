// The system serial port on real pseudo-terminals: what reaches the line
// after a write that could not drain.
#include "SilentTerminal.h"
#include "link/CXmit.h"
#include "link/SerialPort.h"

#include <QtTest>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// Everything the far end can read now, waiting up to waitMs for the first byte.
QByteArray DrainFarEnd(int master, int waitMs)
{
    QByteArray line;
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, line.isEmpty() ? waitMs : 50) <= 0)
            return line;
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            return line;
        line.append(buffer, n);
    }
}

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

private slots:
    void failedWriteNeverReachesTheLine();
    void refusedLineSettingFailsTheOpen_data();
    void refusedLineSettingFailsTheOpen();
};

void SerialPortTest::failedWriteNeverReachesTheLine()
{
    SilentTerminal terminal;
    QVERIFY(!terminal.path().isEmpty());
    const std::unique_ptr<SerialPort> port = CreateSystemSerialPort();
    QString why;
    QCOMPARE(port->open(terminal.path(), &why), SerialPort::OpenResult::Ok);

    // The far end stops reading: write numbered frames until one cannot drain.
    auto frame = [](int number) {
        QByteArray bytes;
        for (int i = 0; i < 128; ++i)
            bytes.append(char(number >> 8)).append(char(number & 0xFF));
        return bytes;
    };
    int failedNumber = -1;
    for (int number = 1; number < 4096 && failedNumber < 0; ++number) {
        const QByteArray bytes = frame(number);
        if (!port->write(reinterpret_cast<const quint8 *>(bytes.constData()), 256))
            failedNumber = number;
    }
    QVERIFY2(failedNumber > 0, "the terminal never filled up");

    // The far end resumes reading, and the program writes its next frame.
    QByteArray line = DrainFarEnd(terminal.master(), 1000);
    const QByteArray next = QByteArray::fromHex("021010");
    QVERIFY(port->write(reinterpret_cast<const quint8 *>(next.constData()), 3));
    line += DrainFarEnd(terminal.master(), 5000);

    qInfo("frame %d failed; the line then carried %lld bytes ending in %s", failedNumber,
          static_cast<long long>(line.size()), line.right(8).toHex(' ').constData());
    QVERIFY2(!line.contains(frame(failedNumber)), "the failed frame went out later all the same");
    QVERIFY(line.endsWith(next));
}

void SerialPortTest::refusedLineSettingFailsTheOpen_data()
{
    QTest::addColumn<LineSetting>("setting");
    QTest::addColumn<QString>("named");
    QTest::newRow("baud rate") << LineSetting::BaudRate << "115200 baud";
    QTest::newRow("data bits") << LineSetting::DataBits << "8 data bits";
    QTest::newRow("parity") << LineSetting::Parity << "no parity";
    QTest::newRow("stop bits") << LineSetting::StopBits << "one stop bit";
}

void SerialPortTest::refusedLineSettingFailsTheOpen()
{
    QFETCH(LineSetting, setting);
    QFETCH(QString, named);

    SilentTerminal terminal;
    QVERIFY(!terminal.path().isEmpty());
    const std::unique_ptr<SerialPort> port = CreateSystemSerialPortRefusing(setting);
    QString why;
    QCOMPARE(port->open(terminal.path(), &why), SerialPort::OpenResult::Failed);
    QVERIFY2(why.contains(named), qPrintable(why));
    QVERIFY(!port->isOpen());

    // A scan names the port and the setting, like any other refused port.
    CXmit xmit;
    xmit.SetPortPaths({terminal.path()});
    xmit.SetPortFactory([setting] { return CreateSystemSerialPortRefusing(setting); });
    QCOMPARE(int(xmit.FindDevice()), 0);
    QCOMPARE(xmit.LastScanRefusals().size(), 1);
    QCOMPARE(xmit.LastScanRefusals().first().path, terminal.path());
    QCOMPARE(xmit.LastScanRefusals().first().kind, SerialPort::OpenResult::Failed);
    QVERIFY(xmit.LastScanRefusals().first().reason.contains(named));

    // Let go completely: the port opens normally afterwards.
    const std::unique_ptr<SerialPort> again = CreateSystemSerialPort();
    QCOMPARE(again->open(terminal.path(), &why), SerialPort::OpenResult::Ok);
}

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
