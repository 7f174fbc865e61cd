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
    QString m_ownedPort; // a file whose group is known
};

void TestRefusedPorts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_ownedPort = m_dir.filePath(QStringLiteral("ttyS7"));
    QFile file(m_ownedPort);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(!QFileInfo(m_ownedPort).group().isEmpty());
}

void TestRefusedPorts::describe_data()
{
    QTest::addColumn<Refusals>("refusals");
    QTest::addColumn<QString>("expected");

    const QString advice = QStringLiteral(" Add your user to the group of the serial devices, "
                                          "then log in again.");

    QTest::newRow("nothing refused") << Refusals{} << QString();
    QTest::newRow("permission, no such file")
        << Refusals{{"/dev/ttyZL0", "permission denied"}}
        << QStringLiteral("Cannot open /dev/ttyZL0: permission denied.") + advice;
    QTest::newRow("permission: the owning group is named")
        << Refusals{{m_ownedPort, "permission denied"}}
        << QStringLiteral("Cannot open %1: permission denied. Add your user to the group '%2', "
                          "then log in again.")
               .arg(m_ownedPort, QFileInfo(m_ownedPort).group());
    QTest::newRow("busy port: no group advice")
        << Refusals{{"/dev/ttyZL1", "in use by another program"}}
        << QStringLiteral("Cannot open /dev/ttyZL1: in use by another program.");
    QTest::newRow("several: the permission one leads")
        << Refusals{{"/dev/ttyZL1", "in use by another program"},
                    {"/dev/ttyZL2", "Permission denied."},
                    {"/dev/ttyZL3", "permission denied"}}
        << QStringLiteral("Cannot open /dev/ttyZL2 (and 2 more): Permission denied.") + advice;
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
    const Refusals refusals{{"/dev/ttyZL1", "in use by another program"},
                            {"/dev/ttyZL2", "permission denied"}};
    QCOMPARE(ListRefusedPorts(refusals),
             QStringList({"Cannot open /dev/ttyZL1: in use by another program.",
                          "Cannot open /dev/ttyZL2: permission denied."}));
}

QTEST_GUILESS_MAIN(TestRefusedPorts)
#include "tst_refusedports.moc"
