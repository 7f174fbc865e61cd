#include "app/AppState.h"
#include "app/ROR310EzudeVov.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Restores the process's current directory when a test changes it.
class CurrentDirectoryGuard
{
public:
    CurrentDirectoryGuard() : m_saved(QDir::currentPath()) {}
    ~CurrentDirectoryGuard() { QDir::setCurrent(m_saved); }

private:
    QString m_saved;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void language_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("expected");

        QTest::newRow("no file") << false << QByteArray() << 0;
        QTest::newRow("empty file") << true << QByteArray() << 0;
        QTest::newRow("EN") << true << QByteArray("EN\n") << 0;
        QTest::newRow("FR") << true << QByteArray("FR\n") << 1;
        QTest::newRow("IT") << true << QByteArray("IT") << 2;
        QTest::newRow("DE") << true << QByteArray("DE\r\n") << 3;
        QTest::newRow("PO") << true << QByteArray("PO\n") << 4;
        QTest::newRow("ES") << true << QByteArray("ES\n") << 5;
        QTest::newRow("rest of line ignored") << true << QByteArray("FRENCH\n") << 1;
        QTest::newRow("lower case") << true << QByteArray("fr\n") << 0;
        QTest::newRow("leading blank") << true << QByteArray(" FR\n") << 0;
        QTest::newRow("one character") << true << QByteArray("F\nR\n") << 0;
        QTest::newRow("code on second line") << true << QByteArray("XX\nPO\n") << 0;
        QTest::newRow("empty first line") << true << QByteArray("\nPO\n") << 0;
        QTest::newRow("unknown code") << true << QByteArray("NL\n") << 0;
        QTest::newRow("utf-8 byte-order mark") << true
                                               << QByteArray("\xEF\xBB\xBF"
                                                             "DE\n")
                                               << 3;
        QTest::newRow("mark only") << true << QByteArray("\xEF\xBB\xBF\nFR\n") << 0;
        QTest::newRow("utf-16") << true
                                << QByteArray("\xFF\xFE"
                                              "F\0R\0",
                                              6)
                                << 0;
    }

    void language()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(int, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (present)
            QVERIFY(WriteFile(dir.filePath("pref.txt"), content));

        LanguageIndex = 99;
        ROR310EzudeVov::LoadSettings(dir.path());
        QCOMPARE(LanguageIndex, expected);
    }

    void manufacturerMarker_data()
    {
        QTest::addColumn<QString>("markerPath"); // relative to the working folder; empty: none
        QTest::addColumn<bool>("firmwareFolder");
        QTest::addColumn<int>("expected");

        QTest::newRow("zero-byte marker in firmware") << "firmware/manufacturer.txt" << true << 1;
        QTest::newRow("marker in the working folder") << "manufacturer.txt" << true << 0;
        QTest::newRow("firmware folder without marker") << QString() << true << 0;
        QTest::newRow("no firmware folder") << QString() << false << 0;
    }

    void manufacturerMarker()
    {
        QFETCH(QString, markerPath);
        QFETCH(bool, firmwareFolder);
        QFETCH(int, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (firmwareFolder)
            QVERIFY(QDir(dir.path()).mkdir("firmware"));
        if (!markerPath.isEmpty())
            QVERIFY(WriteFile(dir.filePath(markerPath), QByteArray()));

        ROR310EzudeVov::LoadSettings(dir.path());
        QCOMPARE(g_manufacturerMode, expected);
    }

    void markerDirectoryDoesNotCount()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath("firmware/manufacturer.txt"));
        ROR310EzudeVov::LoadSettings(dir.path());
        QCOMPARE(g_manufacturerMode, 0);
    }

    // Everything is looked up under the folder given, not under the process's
    // own current directory (or the program's folder).
    void workingFolderIsTheGivenDirectory()
    {
        CurrentDirectoryGuard guard;
        QTemporaryDir elsewhere;
        QTemporaryDir working;
        QVERIFY(elsewhere.isValid() && working.isValid());
        QVERIFY(QDir(elsewhere.path()).mkdir("firmware"));
        QVERIFY(WriteFile(elsewhere.filePath("firmware/manufacturer.txt"), "x"));
        QVERIFY(WriteFile(elsewhere.filePath("pref.txt"), "DE\n"));
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        QVERIFY(WriteFile(working.filePath("pref.txt"), "ES\n"));

        ROR310EzudeVov::LoadSettings(working.path());
        QCOMPARE(g_workingFolder, working.path());
        QCOMPARE(g_firmwareFolder, working.path() + "/firmware/");
        QCOMPARE(g_manufacturerMode, 0);
        QCOMPARE(LanguageIndex, 5);
    }

    void trailingSeparatorIsDropped()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ROR310EzudeVov::LoadSettings(dir.path() + "/");
        QCOMPARE(g_workingFolder, dir.path());
        QCOMPARE(g_firmwareFolder, dir.path() + "/firmware/");
    }

    void longDirectoryIsKeptWhole()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString deep = dir.path();
        while (deep.size() <= 300)
            deep += "/" + QString(40, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(deep));
        QVERIFY(QDir(deep).mkdir("firmware"));
        QVERIFY(WriteFile(deep + "/firmware/manufacturer.txt", QByteArray()));
        QVERIFY(WriteFile(deep + "/pref.txt", "IT\n"));

        ROR310EzudeVov::LoadSettings(deep);
        QCOMPARE(g_workingFolder, deep);
        QCOMPARE(g_firmwareFolder, deep + "/firmware/");
        QCOMPARE(g_manufacturerMode, 1);
        QCOMPARE(LanguageIndex, 2);
    }

    // A second run starts from the defaults, not from what the first found.
    void secondRunStartsAfresh()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        QVERIFY(first.isValid() && second.isValid());
        QVERIFY(QDir(first.path()).mkdir("firmware"));
        QVERIFY(WriteFile(first.filePath("firmware/manufacturer.txt"), QByteArray()));
        QVERIFY(WriteFile(first.filePath("pref.txt"), "PO\n"));

        ROR310EzudeVov::LoadSettings(first.path());
        QCOMPARE(g_manufacturerMode, 1);
        QCOMPARE(LanguageIndex, 4);

        ROR310EzudeVov::LoadSettings(second.path());
        QCOMPARE(g_workingFolder, second.path());
        QCOMPARE(g_manufacturerMode, 0);
        QCOMPARE(LanguageIndex, 0);
    }

    void nothingIsCreated()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ROR310EzudeVov::LoadSettings(dir.path());
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
