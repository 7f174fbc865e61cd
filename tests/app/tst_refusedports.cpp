#include "app/RefusedPorts.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using Refusals = QList<CXmit::RefusedPort>;

class TestRefusedPorts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void describe_data();
    void describe();
    void listsEveryPortForTheCommandLine();

private:
    QTemporaryDir m_dir;
    QString m_groupPort;   // the owning group may read and write it
    QString m_privatePort; // only its owner may
};

void TestRefusedPorts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_groupPort = m_dir.filePath(QStringLiteral("ttyS7"));
    m_privatePort = m_dir.filePath(QStringLiteral("ttyS8"));
    for (const QString &path : {m_groupPort, m_privatePort}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::setPermissions(m_groupPort, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::WriteGroup));
    QVERIFY(QFile::setPermissions(m_privatePort, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(!QFileInfo(m_groupPort).group().isEmpty());
}

void TestRefusedPorts::describe_data()
{
    QTest::addColumn<Refusals>("refusals");
    QTest::addColumn<QString>("expected");

    const QString askAdmin = QStringLiteral(" Ask the administrator for access.");

    QTest::newRow("nothing refused") << Refusals{} << QString();
    QTest::newRow("permission, no such file")
        << Refusals{{"/dev/ttyZL0", "permission denied", SerialPort::OpenResult::PermissionDenied}}
        << QStringLiteral("Cannot open /dev/ttyZL0: permission denied.") + askAdmin;
    QTest::newRow("permission: the owning group is named")
        << Refusals{{m_groupPort, "permission denied", SerialPort::OpenResult::PermissionDenied}}
        << QStringLiteral("Cannot open %1: permission denied. Join the group '%2', then log "
                          "in again.")
               .arg(m_groupPort, QFileInfo(m_groupPort).group());
    QTest::newRow("permission: the group has no access either")
        << Refusals{{m_privatePort, "permission denied", SerialPort::OpenResult::PermissionDenied}}
        << QStringLiteral("Cannot open %1: permission denied.").arg(m_privatePort) + askAdmin;
    QTest::newRow("busy port: no group advice")
        << Refusals{{"/dev/ttyZL1", "in use by another program", SerialPort::OpenResult::Busy}}
        << QStringLiteral("Cannot open /dev/ttyZL1: in use by another program.");
    QTest::newRow("several: the permission one leads")
        << Refusals{{"/dev/ttyZL1", "in use by another program", SerialPort::OpenResult::Busy},
                    {"/dev/ttyZL2", "Permission denied.", SerialPort::OpenResult::PermissionDenied},
                    {"/dev/ttyZL3", "permission denied", SerialPort::OpenResult::PermissionDenied}}
        << QStringLiteral("Cannot open /dev/ttyZL2 (and 2 more): Permission denied.") + askAdmin;
    QTest::newRow("no reason given")
        << Refusals{{"/dev/ttyZL4", ""}} << QStringLiteral("Cannot open /dev/ttyZL4: refused.");
}

void TestRefusedPorts::describe()
{
    QFETCH(Refusals, refusals);
    QFETCH(QString, expected);

    QCOMPARE(DescribeRefusedPorts(refusals), expected);
}

void TestRefusedPorts::listsEveryPortForTheCommandLine()
{
    const Refusals refusals{
        {"/dev/ttyZL1", "in use by another program", SerialPort::OpenResult::Busy},
        {"/dev/ttyZL2", "permission denied", SerialPort::OpenResult::PermissionDenied}};
    QCOMPARE(ListRefusedPorts(refusals),
             QStringList({"Cannot open /dev/ttyZL1: in use by another program.",
                          "Cannot open /dev/ttyZL2: permission denied."}));
}

QTEST_GUILESS_MAIN(TestRefusedPorts)
#include "tst_refusedports.moc"
