#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/types.h>

// Runs the real program: its options, its exit codes and what it prints.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void identify_data();
    void identify();
    void missingSimulatorIsAnError();
    void everyCommandLineEndsCleanly_data();
    void temporaryFolderOnlyWhileSimulating_data();
    void temporaryFolderOnlyWhileSimulating();
    void everyCommandLineEndsCleanly();
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
                          const QString &workingFolder,
                          const QProcessEnvironment &environment = {});
};

TestCommandLine::Run TestCommandLine::RunProgram(const QString &program,
                                                 const QStringList &arguments,
                                                 const QString &workingFolder,
                                                 const QProcessEnvironment &environment)
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
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

void TestCommandLine::everyCommandLineEndsCleanly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outPattern");
    QTest::addColumn<QString>("errPattern");

    // None of these may need a window: they run without any display at all.
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--identify"
                          << "";
    QTest::newRow("help, short") << QStringList{"-h"} << 0 << "--identify"
                                 << "";
    QTest::newRow("help-all") << QStringList{"--help-all"} << 0 << "--identify"
                              << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "^ZEPHALINK 2\\.3\\n$"
                             << "";
    QTest::newRow("version, short") << QStringList{"-v"} << 0 << "^ZEPHALINK 2\\.3\\n$"
                                    << "";
    QTest::newRow("help after identify") << QStringList{"--identify", "--help"} << 0 << "--identify"
                                         << "";
    QTest::newRow("port without path, then identify")
        << QStringList{"--port", "--identify"} << 2 << "^$"
        << "--port needs a port path";
    QTest::newRow("port without path, then version") << QStringList{"--port", "-v"} << 2 << "^$"
                                                     << "--port needs a port path";
    QTest::newRow("port without path, then help") << QStringList{"--port", "--help"} << 2 << "^$"
                                                  << "--port needs a port path";
    QTest::newRow("port without path at the end") << QStringList{"--port"} << 2 << "^$"
                                                  << "Missing value after '--port'";
    QTest::newRow("simulate without type") << QStringList{"--identify", "--simulate"} << 2 << "^$"
                                           << "--simulate";
    QTest::newRow("unknown option, no identify") << QStringList{"--bogus"} << 2 << "^$"
                                                 << "bogus";
    QTest::newRow("stray argument") << QStringList{"COM3"} << 2 << "^$"
                                    << "Unexpected argument";
    QTest::newRow("bad simulate type, no identify")
        << QStringList{"--simulate", "0x99"} << 2 << "^$"
        << "0x82 or 0x78";
    QTest::newRow("Qt's own options pass, version")
        << QStringList{"-style", "fusion", "-platform=offscreen", "--version"} << 0
        << "^ZEPHALINK 2\\.3\\n$"
        << "";
    QTest::newRow("Qt's own options pass, identify")
        << QStringList{"-reverse", "--identify", "-platform", "offscreen", "--port", "@absent"} << 1
        << "^no device found\\n$"
        << "";
    QTest::newRow("identify after the end of options")
        << QStringList{"--", "--identify"} << 2 << "^$"
        << "Unexpected argument: --identify";
}

void TestCommandLine::everyCommandLineEndsCleanly()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, outPattern);
    QFETCH(QString, errPattern);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    arguments.replaceInStrings(QStringLiteral("@absent"), folder.filePath("no-such-port"));
    // No display of any kind: a window would abort the program.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    const Run run =
        RunProgram(QStringLiteral(ZEPHALINK_PATH), arguments, folder.path(), environment);
    QVERIFY2(!run.err.contains(QStringLiteral("QWidget")), qPrintable(run.err));
    QVERIFY2(QRegularExpression(outPattern).match(run.out).hasMatch(), qPrintable(run.out));
    if (!errPattern.isEmpty())
        QVERIFY2(run.err.contains(errPattern), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
}

void TestCommandLine::temporaryFolderOnlyWhileSimulating_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("signal"); // 0: ends by itself
    QTest::addColumn<bool>("folderWhileRunning");

    QTest::newRow("identify on a port")
        << QStringList{"--identify", "--port", "@absent"} << 0 << false;
    QTest::newRow("identify, simulated")
        << QStringList{"--identify", "--simulate", "0x82"} << 0 << true;
    QTest::newRow("window on a port, SIGTERM")
        << QStringList{"--port", "@absent"} << SIGTERM << false;
    QTest::newRow("window with Qt's own options, SIGTERM")
        << QStringList{"-platform", "offscreen", "-style", "fusion", "--port", "@absent"} << SIGTERM
        << false;
    QTest::newRow("window, simulated, SIGINT")
        << QStringList{"--simulate", "0x82"} << SIGINT << true;
    QTest::newRow("window, simulated, SIGTERM")
        << QStringList{"--simulate", "0x78"} << SIGTERM << true;
    QTest::newRow("window, simulated, SIGHUP")
        << QStringList{"--simulate", "0x82"} << SIGHUP << true;
}

void TestCommandLine::temporaryFolderOnlyWhileSimulating()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QFETCH(bool, folderWhileRunning);

    QTemporaryDir folder;
    QTemporaryDir temp;    // the program's temporary folder, watched
    QTemporaryDir runtime; // else Qt makes its runtime folder in the watched one
    QVERIFY(folder.isValid() && temp.isValid() && runtime.isValid());
    arguments.replaceInStrings(QStringLiteral("@absent"), folder.filePath("no-such-port"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QDir tempDir(temp.path());
    const auto leftovers = [&tempDir] {
        return tempDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    };

    if (signal == 0) {
        const Run run =
            RunProgram(QStringLiteral(ZEPHALINK_PATH), arguments, folder.path(), environment);
        QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(run.err));
        QCOMPARE(leftovers(), QStringList());
        return;
    }

    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ZEPHALINK_PATH), arguments);
    QVERIFY(process.waitForStarted(10000));
    if (folderWhileRunning) {
        // Running once the simulator's link is there.
        QTRY_VERIFY_WITH_TIMEOUT(leftovers().size() == 1 && QFileInfo::exists(tempDir.filePath(
                                                                leftovers().first() + "/ttyVX0")),
                                 20000);
        QVERIFY(leftovers().first().startsWith(QStringLiteral("ZEPHALINK-")));
    }
    QTest::qWait(1500); // the window is up and searching
    QCOMPARE(process.state(), QProcess::Running);
    if (!folderWhileRunning)
        QCOMPARE(leftovers(), QStringList());

    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(leftovers(), QStringList());
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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZEPHALINK_VXSIM_OPTIONS"), options);
    const Run run = RunProgram(QStringLiteral(ZEPHALINK_PATH), {"--identify", "--simulate", "0x78"},
                               folder.path(), environment);
    QVERIFY2(QRegularExpression(outPattern).match(run.out).hasMatch(), qPrintable(run.out));
    QCOMPARE(run.exitCode, 0);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
