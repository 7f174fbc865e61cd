#include "app/AppState.h"
#include "app/CInfo.h"
#include "app/DesktopAlerts.h"
#include "app/DialogUnits.h"
#include "app/RIR310IvoduDed.h"
#include "app/SimulatorProcess.h"
#include "app/UserAlerts.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int kConnectTimeoutMs = 20000;
const QString kPlainTitle = QStringLiteral("ZEPHALINK 2.3 - MORVENTIQUE");

// A port that exists but may not be opened.
class RefusingPort final : public SerialPort
{
public:
    explicit RefusingPort(int *opens) : m_opens(opens) {}
    OpenResult open(const QString &, QString *errorText) override
    {
        ++*m_opens;
        if (errorText)
            *errorText = QStringLiteral("permission denied");
        return OpenResult::PermissionDenied;
    }
    void close() override {}
    bool isOpen() const override { return false; }
    int readByte(quint8 *, int) override { return -1; }
    bool write(const quint8 *, int) override { return false; }

private:
    int *m_opens;
};

struct Hold
{
    int ms = 0;
    QString text;
    bool portOpen = false;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsSearchingWithPlainTitle();
    void layoutFollowsManufacturerMode_data();
    void layoutFollowsManufacturerMode();
    void connectShowsDeviceVersions_data();
    void connectShowsDeviceVersions();
    void linkLossReturnsToSearching_data();
    void linkLossReturnsToSearching();
    void reloadRequestDropsConnectionOnce();
    void rebootPendingHoldsBeforeSearching();
    void refusedPortIsReportedAndSearchGoesOn();
    void enterAndEscape_data();
    void enterAndEscape();
    void closingLetsGoOfThePort_data();
    void closingLetsGoOfThePort();
    void desktopMessageBoxes_data();
    void desktopMessageBoxes();

private:
    bool StartSimulator(SimulatorProcess &simulator, const QString &type,
                        const QStringList &extra = {});

    QTemporaryDir m_dir;
};

void TestMainWindow::init()
{
    g_manufacturerMode = 0;
    LanguageIndex = 0;
    g_forceUpgrade = 0;
    g_xmit.ClosePort();
    g_xmit.m_rebootPending = 0;
    g_xmit.m_linkError = 0;
    g_xmit.m_portNumber = 0;
    g_xmit.SetPortFactory(nullptr);
    // Never the machine's own ports.
    g_xmit.SetPortPaths({m_dir.filePath(QStringLiteral("no-such-port"))});
    CInfo::SetHoldFunction([](int) {});
}

void TestMainWindow::cleanup()
{
    CInfo::SetHoldFunction(nullptr);
    g_xmit.ClosePort();
    g_xmit.SetPortFactory(nullptr);
    LanguageIndex = 0;
}

bool TestMainWindow::StartSimulator(SimulatorProcess &simulator, const QString &type,
                                    const QStringList &extra)
{
    QString why;
    if (!simulator.Start(QStringLiteral(VXSIM_PATH), type, &why, extra)) {
        qWarning("%s", qPrintable(why));
        return false;
    }
    g_xmit.SetPortPaths({simulator.LinkPath()});
    return true;
}

void TestMainWindow::startsSearchingWithPlainTitle()
{
    RIR310IvoduDed window;
    window.show();

    QCOMPARE(window.windowTitle(), kPlainTitle);
    QVERIFY(!window.Form()->isVisible());
    QVERIFY(!window.windowIcon().availableSizes().isEmpty()); // the embedded icon was found

    QTRY_COMPARE_WITH_TIMEOUT(window.Info()->m_text, QStringLiteral("Waiting connection..."), 5000);
    QVERIFY(window.Info()->isVisible());
    QCOMPARE(window.Info()->pos(), QPoint(0, 0));
    QCOMPARE(window.Info()->m_progressRange, 1);
    QCOMPARE(window.height(), window.Info()->height() + 20);

    // Placed so that the window still fits on the screen once it has grown
    // downwards for a connected device.
    const int connectedHeight =
        DluToPixels(QSize(349, 252), window.Form()->font()).height() + window.Info()->height() + 20;
    const QRect available = window.screen()->availableGeometry();
    QVERIFY(connectedHeight <= available.height());
    QVERIFY2(window.geometry().top() + connectedHeight <= available.bottom() + 1,
             qPrintable(QStringLiteral("top %1, screen %2")
                            .arg(window.geometry().top())
                            .arg(available.height())));

    // With nothing to find it keeps searching, the form out of sight.
    auto *connectTimer = window.findChild<QTimer *>(QStringLiteral("connectTimer"));
    QVERIFY(connectTimer);
    QTRY_VERIFY_WITH_TIMEOUT(connectTimer->isActive(), 5000);
    QVERIFY(!window.Form()->isVisible());
    QCOMPARE(window.windowTitle(), kPlainTitle);
}

void TestMainWindow::layoutFollowsManufacturerMode_data()
{
    QTest::addColumn<int>("manufacturer");
    QTest::addColumn<QSize>("formDlu");

    QTest::newRow("technician: upper frame only") << 0 << QSize(349, 252);
    QTest::newRow("manufacturer: whole form") << 1 << QSize(350, 392);
}

void TestMainWindow::layoutFollowsManufacturerMode()
{
    QFETCH(int, manufacturer);
    QFETCH(QSize, formDlu);

    g_manufacturerMode = manufacturer;
    g_softwareVersion = 23;
    g_hardwareVersion = 1;

    RIR310IvoduDed window;
    window.move(40, 30);
    const QRect before = window.geometry();
    CSetting *form = window.Form();
    const int formHeight = DluToPixels(formDlu, form->font()).height();
    const int panelHeight = window.Info()->height();

    window.UpdateLayout(form);
    QCOMPARE(window.windowTitle(), kPlainTitle + QStringLiteral(" (S2.3H1)"));
    QCOMPARE(form->geometry(),
             QRect(0, 0, DluToPixels(QSize(350, 392), form->font()).width(), formHeight));
    QCOMPARE(window.Info()->pos(), QPoint(0, formHeight));
    QVERIFY(window.Info()->isVisibleTo(&window));
    QCOMPARE(window.height(), formHeight + panelHeight + 20);
    QCOMPARE(window.geometry().topLeft(), before.topLeft());
    QCOMPARE(window.width(), before.width());

    window.UpdateLayout(nullptr);
    QCOMPARE(window.windowTitle(), kPlainTitle);
    QVERIFY(!form->isVisibleTo(&window));
    QCOMPARE(window.Info()->pos(), QPoint(0, 0));
    QCOMPARE(window.height(), panelHeight + 20);
    QCOMPARE(window.geometry().topLeft(), before.topLeft());
    QCOMPARE(window.width(), before.width());
}

void TestMainWindow::connectShowsDeviceVersions_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("versions");
    QTest::addColumn<QString>("connectedText");

    QTest::newRow("0x82 2.3 H1") << "0x82" << QStringList{"--sw", "23", "--hw", "1"} << 0
                                 << " (S2.3H1)"
                                 << "Hardware connected";
    QTest::newRow("0x82 below 1.0")
        << "0x82" << QStringList{"--sw", "5", "--hw", "1"} << 0 << " (S0.5H1)"
        << "Hardware connected";
    QTest::newRow("0x78 3.1 H3") << "0x78" << QStringList{"--sw", "31", "--hw", "3"} << 0
                                 << " (S3.1H3)"
                                 << "Hardware connected";
    QTest::newRow("0x82 in French") << "0x82" << QStringList{"--sw", "23", "--hw", "1"} << 1
                                    << " (S2.3H1)" << QString::fromUtf8("Matériel connecté");
}

void TestMainWindow::connectShowsDeviceVersions()
{
    QFETCH(QString, type);
    QFETCH(QStringList, options);
    QFETCH(int, language);
    QFETCH(QString, versions);
    QFETCH(QString, connectedText);

    SimulatorProcess simulator;
    QVERIFY(StartSimulator(simulator, type, options));
    LanguageIndex = language;

    RIR310IvoduDed window;
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    window.show();

    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, kConnectTimeoutMs);
    QCOMPARE(window.Info()->m_text, connectedText);
    QCOMPARE(window.windowTitle(), kPlainTitle + versions);
    QVERIFY(window.Form()->isVisible());
    QVERIFY(window.Form()->IsFormTimerActive());
    QVERIFY(window.findChild<QTimer *>(QStringLiteral("linkWatchTimer"))->isActive());
    const int upper = DluToPixels(QSize(349, 252), window.Form()->font()).height();
    QCOMPARE(window.Form()->height(), upper);
    QCOMPARE(window.height(), upper + window.Info()->height() + 20);

    // A good link keeps the connection through several watches.
    QTest::qWait(1500);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(window.windowTitle(), kPlainTitle + versions);
}

void TestMainWindow::linkLossReturnsToSearching_data()
{
    QTest::addColumn<QString>("lose");
    QTest::addColumn<QString>("restore"); // empty: it comes back by itself

    QTest::newRow("device falls silent") << "silent on"
                                         << "silent off";
    QTest::newRow("port vanishes") << "vanish 1500"
                                   << "";
}

void TestMainWindow::linkLossReturnsToSearching()
{
    QFETCH(QString, lose);
    QFETCH(QString, restore);

    SimulatorProcess simulator;
    QVERIFY(StartSimulator(simulator, QStringLiteral("0x82"),
                           {QStringLiteral("--sw"), QStringLiteral("23"), QStringLiteral("--hw"),
                            QStringLiteral("1")}));

    RIR310IvoduDed window;
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    QSignalSpy dropped(&window, &RIR310IvoduDed::connectionDropped);
    // What the window looks like the moment the connection is dropped.
    QString titleAtDrop;
    bool formVisibleAtDrop = true;
    bool portOpenAtDrop = true;
    bool searchArmedAtDrop = false;
    auto *connectTimer = window.findChild<QTimer *>(QStringLiteral("connectTimer"));
    connect(&window, &RIR310IvoduDed::connectionDropped, this, [&] {
        titleAtDrop = window.windowTitle();
        formVisibleAtDrop = window.Form()->isVisible();
        portOpenAtDrop = g_xmit.IsPortOpen();
        searchArmedAtDrop = connectTimer->isActive() && !window.Form()->IsFormTimerActive();
    });
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, kConnectTimeoutMs);

    simulator.SendControl(lose);
    QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, kConnectTimeoutMs);
    QCOMPARE(titleAtDrop, kPlainTitle);
    QVERIFY(!formVisibleAtDrop);
    QVERIFY(!portOpenAtDrop);
    QVERIFY(searchArmedAtDrop);
    QCOMPARE(window.height(), window.Info()->height() + 20);

    if (!restore.isEmpty())
        simulator.SendControl(restore);
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, kConnectTimeoutMs);
    QCOMPARE(window.windowTitle(), kPlainTitle + QStringLiteral(" (S2.3H1)"));
    QVERIFY(window.Form()->isVisible());
}

void TestMainWindow::reloadRequestDropsConnectionOnce()
{
    SimulatorProcess simulator;
    QVERIFY(StartSimulator(simulator, QStringLiteral("0x82")));

    RIR310IvoduDed window;
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    QSignalSpy dropped(&window, &RIR310IvoduDed::connectionDropped);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, kConnectTimeoutMs);

    g_forceUpgrade = 1;
    QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, kConnectTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, kConnectTimeoutMs);
    // The request lasts for one check after reconnecting; it must not drop
    // every later connection as well.
    QCOMPARE(g_forceUpgrade, 0);
    QTest::qWait(1500);
    QCOMPARE(dropped.count(), 1);
    QVERIFY(window.Form()->isVisible());
}

void TestMainWindow::rebootPendingHoldsBeforeSearching()
{
    SimulatorProcess simulator;
    QVERIFY(StartSimulator(simulator, QStringLiteral("0x82")));

    RIR310IvoduDed window;
    QList<Hold> holds;
    CInfo::SetHoldFunction([&](int ms) {
        holds.append({ms, window.Info()->m_text, g_xmit.IsPortOpen()});
    });
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    QSignalSpy dropped(&window, &RIR310IvoduDed::connectionDropped);
    g_xmit.m_rebootPending = 1;
    window.show();

    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, kConnectTimeoutMs);
    QCOMPARE(holds.size(), 1);
    QCOMPARE(holds.at(0).ms, 8000);
    QCOMPARE(holds.at(0).text, QStringLiteral("Rebooting, wait..."));
    QVERIFY(!holds.at(0).portOpen); // the hold comes before the search
    QCOMPARE(g_xmit.m_rebootPending, 0);

    // Only the attempt right after a restart waits.
    g_xmit.m_linkError = 1;
    QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, kConnectTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, kConnectTimeoutMs);
    QCOMPARE(holds.size(), 1);
}

void TestMainWindow::refusedPortIsReportedAndSearchGoesOn()
{
    int opens = 0;
    g_xmit.SetPortFactory([&opens] { return std::make_unique<RefusingPort>(&opens); });
    g_xmit.SetPortPaths({QStringLiteral("/dev/ttyZL9")});

    RIR310IvoduDed window;
    window.show();

    QTRY_COMPARE_WITH_TIMEOUT(window.Info()->m_text,
                              QStringLiteral("Cannot open /dev/ttyZL9: permission denied. Ask "
                                             "the administrator for access."),
                              5000);
    QTRY_VERIFY_WITH_TIMEOUT(opens >= 2, 10000);
    QVERIFY(!window.Form()->isVisible());
    QCOMPARE(window.windowTitle(), kPlainTitle);
}

void TestMainWindow::enterAndEscape_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("inForm");
    QTest::addColumn<bool>("closes");

    QTest::newRow("Escape on the window") << int(Qt::Key_Escape) << false << true;
    QTest::newRow("Return on the window") << int(Qt::Key_Return) << false << true;
    QTest::newRow("Enter on the window") << int(Qt::Key_Enter) << false << true;
    QTest::newRow("Escape in the form") << int(Qt::Key_Escape) << true << false;
    QTest::newRow("Return in the form") << int(Qt::Key_Return) << true << false;
}

void TestMainWindow::enterAndEscape()
{
    QFETCH(int, key);
    QFETCH(bool, inForm);
    QFETCH(bool, closes);

    RIR310IvoduDed window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (inForm) {
        window.UpdateLayout(window.Form());
        window.Form()->show();
    }

    QTest::keyClick(inForm ? static_cast<QWidget *>(window.Form()) : &window, Qt::Key(key));
    QCOMPARE(window.isVisible(), !closes);
    if (closes) {
        // Closed means no more searching in the background.
        QVERIFY(!window.findChild<QTimer *>(QStringLiteral("connectTimer"))->isActive());
        QVERIFY(!window.findChild<QTimer *>(QStringLiteral("linkWatchTimer"))->isActive());
    }
}

void TestMainWindow::closingLetsGoOfThePort_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "escape";
}

void TestMainWindow::closingLetsGoOfThePort()
{
    QFETCH(QString, how);

    QTemporaryDir folder;
    SimulatorProcess simulator;
    const QString transcript = folder.filePath(QStringLiteral("transcript.txt"));
    QVERIFY(StartSimulator(simulator, QStringLiteral("0x82"), {"--transcript", transcript}));

    RIR310IvoduDed window;
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, kConnectTimeoutMs);
    QVERIFY(g_xmit.IsPortOpen());

    auto requests = [&transcript] {
        QFile file(transcript);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count(" > ") : -1;
    };
    const qsizetype before = requests();
    QVERIFY(before > 0);
    if (how == QLatin1String("close"))
        window.close();
    else
        QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    // The port (and its lock) goes with the window, not at the program's end.
    QVERIFY(!g_xmit.IsPortOpen());

    // Nothing was said to the device on the way out, nor afterwards.
    QTest::qWait(500);
    QCOMPARE(requests(), before);
}

// The boxes core code raises through the shared seam, as the desktop shows
// them: a warning with its icon, a plain notice (the "MD5 Error" of a damaged
// package) without one; both with OK only.
void TestMainWindow::desktopMessageBoxes_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<int>("icon");

    QTest::newRow("warning") << false << int(QMessageBox::Warning);
    QTest::newRow("notice") << true << int(QMessageBox::NoIcon);
}

void TestMainWindow::desktopMessageBoxes()
{
    QFETCH(bool, plain);
    QFETCH(int, icon);

    DesktopAlerts alerts;
    QString caption, text;
    int shownIcon = -1;
    QMessageBox::StandardButtons buttons;
    // Looks for the box until it is up, reads it and closes it.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        closer.stop();
        caption = box->windowTitle();
        text = box->text();
        shownIcon = int(box->icon());
        buttons = box->standardButtons();
        box->accept();
    });
    closer.start();
    const QString message = QStringLiteral("MD5 Error") + QString(64, u'A');
    if (plain)
        ShowNotice(QStringLiteral("ZEPHALINK"), message);
    else
        ShowWarning(QStringLiteral("ZEPHALINK"), message);

    QCOMPARE(caption, QStringLiteral("ZEPHALINK"));
    QCOMPARE(text, message);
    QCOMPARE(shownIcon, icon);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
