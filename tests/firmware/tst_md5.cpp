// MD5 of our own: the digests RFC 1321 lists, files around the block and
// padding boundaries against a second opinion, and the failure text.
#include "FirmwareTestSupport.h"
#include "firmware/Md5.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class Md5Test : public QObject
{
    Q_OBJECT

private slots:
    void rfcVectors_data();
    void rfcVectors();
    void fileSizes_data();
    void fileSizes();
    void unreadablePathGivesEmptyText_data();
    void unreadablePathGivesEmptyText();

private:
    QTemporaryDir m_dir;
};

void Md5Test::rfcVectors_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty") << QByteArray() << "D41D8CD98F00B204E9800998ECF8427E";
    QTest::newRow("a") << QByteArray("a") << "0CC175B9C0F1B6A831C399E269772661";
    QTest::newRow("abc") << QByteArray("abc") << "900150983CD24FB0D6963F7D28E17F72";
    QTest::newRow("message digest")
        << QByteArray("message digest") << "F96B697D7CB7938D525A2F31AAF161D0";
    QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                              << "C3FCD3D76192E4007DFB496CCA67E13B";
    QTest::newRow("alphanumeric")
        << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
        << "D174AB98D277D9F5A5611C2C9F419D9F";
    QTest::newRow("eight times digits")
        << QByteArray("1234567890").repeated(8) << "57EDF4A22BE3C955AC49DA2E2107B67A";
}

void Md5Test::rfcVectors()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, digest);

    // In one piece.
    Md5Context whole;
    whole.Add(message.constData(), size_t(message.size()));
    quint8 out[16];
    whole.Finish(out);
    QCOMPARE(Md5Text(out), digest);

    // Byte by byte, with empty additions between: the same digest.
    Md5Context pieces;
    for (char c : message) {
        pieces.Add(&c, 1);
        pieces.Add(nullptr, 0);
    }
    pieces.Finish(out);
    QCOMPARE(Md5Text(out), digest);

    // And as a file.
    const QString path = m_dir.filePath(QStringLiteral("vector.bin"));
    QVERIFY(fwtest::WriteFile(path, message));
    QCOMPARE(FileFingerprint(path), digest);
}

void Md5Test::fileSizes_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 55, 56, 63, 64, 65, 16384, 16384 * 3 + 17})
        QTest::addRow("%d bytes", size) << size;
}

void Md5Test::fileSizes()
{
    QFETCH(int, size);
    const QByteArray content = fwtest::Pattern(size, size);
    const QString path = m_dir.filePath(QStringLiteral("file-%1.bin").arg(size));
    QVERIFY(fwtest::WriteFile(path, content));

    const QString text = FileFingerprint(path);
    QCOMPARE(text, fwtest::Md5Of(content));
    QCOMPARE(text.size(), 32);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(text).hasMatch());
}

void Md5Test::unreadablePathGivesEmptyText_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing file") << "no-such-file.bin";
    QTest::newRow("a folder") << ".";
}

void Md5Test::unreadablePathGivesEmptyText()
{
    QFETCH(QString, relative);
    QCOMPARE(FileFingerprint(m_dir.filePath(relative)), QString());
}

QTEST_GUILESS_MAIN(Md5Test)
#include "tst_md5.moc"
