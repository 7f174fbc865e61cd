#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// Runs the real program: its options, its exit codes and what it prints.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void identify_data();
    void identify();
    void missingSimulatorIsAnError();
    void simulatorOptionsFromTheEnvironment_data();
    void simulatorOptionsFromTheEnvironment();

private:
    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    static Run RunProgram(const QString &program, const QStringList &arguments,
                          const QString &workingFolder, const QString &simulatorOptions = {});
};

TestCommandLine::Run TestCommandLine::RunProgram(const QString &program,
                                                 const QStringList &arguments,
                                                 const QString &workingFolder,
                                                 const QString &simulatorOptions)
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    if (!simulatorOptions.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZEPHALINK_VXSIM_OPTIONS"), simulatorOptions);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(3000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

void TestCommandLine::identify_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outPattern");
    QTest::addColumn<QString>("errPattern");

    QTest::newRow("simulated 0x82") << QStringList{"--identify", "--simulate", "0x82"} << 0
                                    << "^/\\S+/ttyVX0 type 0x82 software 2\\.3 hardware 1\\n$"
                                    << "";
    QTest::newRow("simulated 0x78, upper-case type")
        << QStringList{"--simulate", "0X78", "--identify"} << 0
        << "^/\\S+/ttyVX0 type 0x78 software \\d+\\.\\d hardware \\d+\\n$"
        << "";
    QTest::newRow("nothing on the given port")
        << QStringList{"--identify", "--port", "@absent"} << 1 << "^no device found\\n$"
        << "";
    QTest::newRow("unknown device type")
        << QStringList{"--identify", "--simulate", "0x99"} << 2 << "^$"
        << "0x82 or 0x78";
    QTest::newRow("port and simulator together")
        << QStringList{"--identify", "--simulate", "0x82", "--port", "@absent"} << 2 << "^$"
        << "cannot be used together";
    QTest::newRow("unknown option") << QStringList{"--identify", "--bogus"} << 2 << "^$"
                                    << "bogus";
}

void TestCommandLine::identify()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, outPattern);
    QFETCH(QString, errPattern);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    arguments.replaceInStrings(QStringLiteral("@absent"), folder.filePath("no-such-port"));

    const Run run = RunProgram(QStringLiteral(ZEPHALINK_PATH), arguments, folder.path());
    QVERIFY2(QRegularExpression(outPattern).match(run.out).hasMatch(), qPrintable(run.out));
    if (!errPattern.isEmpty())
        QVERIFY2(run.err.contains(errPattern), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
}

void TestCommandLine::missingSimulatorIsAnError()
{
    // A copy of the program in a folder without vxsim beside it.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString copy = folder.filePath(QStringLiteral("zephalink"));
    QVERIFY(QFile::copy(QStringLiteral(ZEPHALINK_PATH), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner));

    const Run run = RunProgram(copy, {"--identify", "--simulate", "0x82"}, folder.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("simulator was not found")), qPrintable(run.err));
    QVERIFY(run.err.contains(folder.filePath(QStringLiteral("vxsim"))));
}

void TestCommandLine::simulatorOptionsFromTheEnvironment_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("outPattern");
    QTest::newRow("hardware 3") << "--hw 3"
                                << " type 0x78 software 2\\.3 hardware 3\\n$";
    QTest::newRow("software and hardware") << "--sw 31 --hw 4"
                                           << " type 0x78 software 3\\.1 hardware 4\\n$";
}

void TestCommandLine::simulatorOptionsFromTheEnvironment()
{
    QFETCH(QString, options);
    QFETCH(QString, outPattern);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const Run run = RunProgram(QStringLiteral(ZEPHALINK_PATH), {"--identify", "--simulate", "0x78"},
                               folder.path(), options);
    QVERIFY2(QRegularExpression(outPattern).match(run.out).hasMatch(), qPrintable(run.out));
    QCOMPARE(run.exitCode, 0);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
