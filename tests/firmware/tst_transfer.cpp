// Image upload to a 0x82 device and component write and read-back on a 0x78
// device, against vxsim: the exact requests, the progress positions and the
// results.
#include "FirmwareTestSupport.h"
#include "firmware/FirmwareCatalogue.h"
#include "firmware/FirmwareTransfer.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray LengthInFront(const QByteArray &content, int stored)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((quint32(stored) >> (8 * i)) & 0xFF);
    return out + content;
}

} // namespace

class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void uploadImage_data();
    void uploadImage();
    void writeComponent_data();
    void writeComponent();
    void verifyComponent_data();
    void verifyComponent();
    void missingComponentFileSendsNothing();

private:
    QTemporaryDir m_dir;
};

void TransferTest::uploadImage_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("progress");
    QTest::addColumn<QStringList>("texts");

    const QString upgrade = QStringLiteral("upgrade to release  1.3");
    QTest::newRow("5000 bytes: 2048, 2048, 904")
        << 5000 << QStringList{} << true
        << QStringList{"0xC0 image-begin", "0xC0 image-block 2048 at 0",
                       "0xC0 image-block 2048 at 2048", "0xC0 image-block 904 at 4096",
                       "0xC0 image-end"}
        << QStringList{"2048/5000", "4096/5000", "5000/5000", "100/100"}
        << QStringList{upgrade, "Writing, wait..."};
    QTest::newRow("empty image: start, then finish")
        << 0 << QStringList{} << true << QStringList{"0xC0 image-begin", "0xC0 image-end"}
        << QStringList{"100/100"} << QStringList{upgrade, "Writing, wait..."};
    QTest::newRow("exactly one block")
        << 2048 << QStringList{} << true
        << QStringList{"0xC0 image-begin", "0xC0 image-block 2048 at 0", "0xC0 image-end"}
        << QStringList{"2048/2048", "100/100"} << QStringList{upgrade, "Writing, wait..."};
    QTest::newRow("start refused: nothing else sent")
        << 5000 << QStringList{"refuse@cmd=0xC0/00"} << false << QStringList{"0xC0 image-begin"}
        << QStringList{} << QStringList{};
    QTest::newRow("start unanswered: nothing else sent")
        << 5000 << QStringList{"silent@cmd=0xC0/00"} << false << QStringList{"0xC0 image-begin"}
        << QStringList{} << QStringList{};
    // Frames: 1 identify, 2 start, 3 first block, 4 second block.
    QTest::newRow("second block refused: no third block, no finish")
        << 5000 << QStringList{"refuse@frame=4"} << true
        << QStringList{"0xC0 image-begin", "0xC0 image-block 2048 at 0",
                       "0xC0 image-block 2048 at 2048"}
        << QStringList{"2048/5000", "4096/5000"} << QStringList{upgrade};
}

void TransferTest::uploadImage()
{
    QFETCH(int, size);
    QFETCH(QStringList, faults);
    QFETCH(bool, started);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, progress);
    QFETCH(QStringList, texts);

    QStringList arguments{"--type", "0x82"};
    for (const QString &f : faults)
        arguments << "--fault" << f;
    fwtest::Device device;
    QVERIFY(device.Start(arguments));
    fwtest::RecordingStatus status;
    QStringList lockEvents;
    const QByteArray image = fwtest::Pattern(size);

    const bool result =
        UploadImage(device.xmit, reinterpret_cast<const quint8 *>(image.constData()), size, 13,
                    [&](bool enabled) { lockEvents << (enabled ? "enabled" : "disabled"); });

    QCOMPARE(result, started);
    QCOMPARE(device.Requests(), requests);
    QCOMPARE(status.progress, progress);
    QCOMPARE(status.Texts(), texts);
    for (const fwtest::StatusEvent &e : status.shows) {
        QCOMPARE(e.durationMs, 10000);
        QVERIFY(!e.wait);
    }
    // The window refuses input for the whole upload and takes it again after.
    QCOMPARE(lockEvents, (QStringList{"disabled", "enabled"}));

    if (size == 5000 && requests.size() == 5) {
        // Offsets high byte first: 00 00 00, 00 08 00, 00 10 00.
        const QStringList hex = device.RequestHex();
        QCOMPARE(hex.size(), 5);
        QVERIFY(hex[1].startsWith(QLatin1String("02 C8 08 04 01 00 00 00 ")));
        QVERIFY(hex[2].startsWith(QLatin1String("02 C8 08 04 01 00 08 00 ")));
        QVERIFY(hex[3].startsWith(QLatin1String("02 C8 03 8C 01 00 10 00 ")));
        QCOMPARE(device.sim.StateFile(QStringLiteral("image.bin")), image);
    }
}

void TransferTest::writeComponent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("lengthPrefix");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("progress");

    QTest::newRow("450 bytes with the length in front")
        << 450 << true << QStringList{} << true
        << QStringList{"0xC0 open-write 701", "0xC0 write 4",  "0xC0 write 200",
                       "0xC0 write 200",      "0xC0 write 50", "0xC0 close"}
        << QStringList{"0/450", "200/450", "400/450"};
    QTest::newRow("450 bytes without")
        << 450 << false << QStringList{} << true
        << QStringList{"0xC0 open-write 701", "0xC0 write 200", "0xC0 write 200", "0xC0 write 50",
                       "0xC0 close"}
        << QStringList{"0/450", "200/450", "400/450"};
    QTest::newRow("empty component with the length in front")
        << 0 << true << QStringList{} << true
        << QStringList{"0xC0 open-write 701", "0xC0 write 4", "0xC0 close"} << QStringList{};
    QTest::newRow("open refused: no close")
        << 450 << true << QStringList{"refuse@cmd=0xC0/00"} << false
        << QStringList{"0xC0 open-write 701"} << QStringList{};
    // Frames: 1 identify, 2 open, 3 length, 4 first piece, 5 second piece.
    QTest::newRow("second piece refused: stop, close")
        << 450 << true << QStringList{"refuse@frame=5"} << false
        << QStringList{"0xC0 open-write 701", "0xC0 write 4", "0xC0 write 200", "0xC0 write 200",
                       "0xC0 close"}
        << QStringList{"0/450", "200/450"};
    QTest::newRow("refused length is not reported")
        << 450 << true << QStringList{"refuse@frame=3"} << true
        << QStringList{"0xC0 open-write 701", "0xC0 write 4",  "0xC0 write 200",
                       "0xC0 write 200",      "0xC0 write 50", "0xC0 close"}
        << QStringList{"0/450", "200/450", "400/450"};
}

void TransferTest::writeComponent()
{
    QFETCH(int, size);
    QFETCH(bool, lengthPrefix);
    QFETCH(QStringList, faults);
    QFETCH(bool, ok);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, progress);

    const QByteArray content = fwtest::Pattern(size, 5);
    const QString path = m_dir.filePath(QStringLiteral("component.bin"));
    QVERIFY(fwtest::WriteFile(path, content));
    QStringList arguments{"--type", "0x78"};
    for (const QString &f : faults)
        arguments << "--fault" << f;
    fwtest::Device device;
    QVERIFY(device.Start(arguments));
    fwtest::RecordingStatus status;

    QCOMPARE(WriteComponent(device.xmit, path, 701, lengthPrefix), ok);
    QCOMPARE(device.Requests(), requests);
    QCOMPARE(status.progress, progress);
    QCOMPARE(status.Texts(), QStringList());
    if (ok) {
        const QByteArray stored = device.sim.StateFile(QStringLiteral("files/701.bin"));
        // A refused length is not reported; the device then holds the bytes alone.
        const bool lengthStored =
            lengthPrefix && !faults.contains(QStringLiteral("refuse@frame=3"));
        QCOMPARE(stored, lengthStored ? LengthInFront(content, size) : content);
        if (size == 450 && lengthPrefix)
            QVERIFY(device.RequestHex()[1].startsWith(QLatin1String("02 C4 05 04 C2 01 00 00 ")));
    }
}

void TransferTest::verifyComponent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("lengthPrefix");
    QTest::addColumn<QByteArray>("deviceFile"); // "=" the right content
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("requests");

    const QStringList all{"0xC0 open-read 701", "0xC0 read 4",  "0xC0 read 200",
                          "0xC0 read 200",      "0xC0 read 50", "0xC0 close"};
    QTest::newRow("450 bytes with the length in front")
        << 450 << true << QByteArray("=") << QStringList{} << true << all;
    QTest::newRow("450 bytes without")
        << 450 << false << QByteArray("=") << QStringList{} << true
        << QStringList{"0xC0 open-read 701", "0xC0 read 200", "0xC0 read 200", "0xC0 read 50",
                       "0xC0 close"};
    QTest::newRow("empty component, stored length 0")
        << 0 << true << QByteArray("=") << QStringList{} << true
        << QStringList{"0xC0 open-read 701", "0xC0 read 4", "0xC0 close"};
    QTest::newRow("stored length one short: fails before any data")
        << 450 << true << QByteArray("short") << QStringList{} << false
        << QStringList{"0xC0 open-read 701", "0xC0 read 4"};
    QTest::newRow("last byte differs: fails after the last piece")
        << 450 << true << QByteArray("last") << QStringList{} << false << all;
    QTest::newRow("first byte differs: fails at the first piece")
        << 450 << true << QByteArray("first") << QStringList{} << false
        << QStringList{"0xC0 open-read 701", "0xC0 read 4", "0xC0 read 200", "0xC0 close"};
    QTest::newRow("device file shorter than the component")
        << 450 << false << QByteArray("truncated") << QStringList{} << false
        << QStringList{"0xC0 open-read 701", "0xC0 read 200", "0xC0 read 200", "0xC0 read 50",
                       "0xC0 close"};
    QTest::newRow("open refused") << 450 << true << QByteArray("=")
                                  << QStringList{"refuse@cmd=0xC0/01"} << false
                                  << QStringList{"0xC0 open-read 701"};
    // Frames: 1 identify, 2 open, 3 length, 4 first piece.
    QTest::newRow("a refused read is a difference, never a match")
        << 450 << true << QByteArray("=") << QStringList{"refuse@frame=4"} << false
        << QStringList{"0xC0 open-read 701", "0xC0 read 4", "0xC0 read 200", "0xC0 close"};
    QTest::newRow("a refused length read is a difference")
        << 0 << true << QByteArray("=") << QStringList{"refuse@frame=3"} << false
        << QStringList{"0xC0 open-read 701", "0xC0 read 4"};
}

void TransferTest::verifyComponent()
{
    QFETCH(int, size);
    QFETCH(bool, lengthPrefix);
    QFETCH(QByteArray, deviceFile);
    QFETCH(QStringList, faults);
    QFETCH(bool, ok);
    QFETCH(QStringList, requests);

    const QByteArray content = fwtest::Pattern(size, 9);
    const QString path = m_dir.filePath(QStringLiteral("verify.bin"));
    QVERIFY(fwtest::WriteFile(path, content));

    QByteArray stored = lengthPrefix ? LengthInFront(content, size) : content;
    if (deviceFile == "short") {
        stored = LengthInFront(content, size - 1);
    } else if (deviceFile == "last") {
        stored[stored.size() - 1] = char(stored.at(stored.size() - 1) ^ 0x01);
    } else if (deviceFile == "first") {
        stored[lengthPrefix ? 4 : 0] = char(stored.at(lengthPrefix ? 4 : 0) ^ 0x80);
    } else if (deviceFile == "truncated") {
        stored.chop(1);
    }
    QStringList arguments{"--type", "0x78"};
    for (const QString &f : faults)
        arguments << "--fault" << f;
    fwtest::Device device;
    QVERIFY(device.Start(arguments, {{QStringLiteral("files/701.bin"), stored}}));
    fwtest::RecordingStatus status;

    QCOMPARE(VerifyComponent(device.xmit, path, 701, lengthPrefix), ok);
    QCOMPARE(device.Requests(), requests);
    const bool reachedTheEnd = requests.last() == QLatin1String("0xC0 close");
    // The "verifying..." text is cleared once the comparison is over.
    if (reachedTheEnd) {
        QCOMPARE(status.Texts(), QStringList{QString()});
        QCOMPARE(status.shows[0].durationMs, 1);
    } else {
        QCOMPARE(status.Texts(), QStringList());
    }
    if (size == 450 && reachedTheEnd && requests.size() >= 5) {
        const int pieces = int(requests.filter(QStringLiteral("read 200")).size() +
                               requests.filter(QStringLiteral("read 50")).size());
        QStringList expected{"0/450", "200/450", "400/450"};
        QCOMPARE(status.progress, expected.mid(0, pieces));
    }
}

void TransferTest::missingComponentFileSendsNothing()
{
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x78"}));
    const QString missing = m_dir.filePath(QStringLiteral("missing.bin"));
    QVERIFY(!WriteComponent(device.xmit, missing, 701, true));
    QVERIFY(!VerifyComponent(device.xmit, missing, 701, true));
    QCOMPARE(device.Requests(), QStringList());
}

QTEST_GUILESS_MAIN(TransferTest)
#include "tst_transfer.moc"
