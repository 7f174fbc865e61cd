#include "app/CInfo.h"
#include "app/DialogUnits.h"
#include "app/StatusSink.h"

#include <QEvent>
#include <QLabel>
#include <QList>
#include <QPoint>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

namespace {

// Counts paint events of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestStatusPanel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_info = std::make_unique<CInfo>();
        m_timer = m_info->findChild<QTimer *>("clearTimer");
        QVERIFY(m_timer);
    }

    void cleanup()
    {
        CInfo::SetHoldFunction(nullptr);
        SetStatusSink(nullptr);
        m_info.reset();
    }

    void controlsAreNamedAndGrey()
    {
        auto *label = m_info->findChild<QLabel *>("statusText");
        auto *bar = m_info->findChild<QProgressBar *>("progressBar");
        QCOMPARE(label, m_info->textLabel());
        QCOMPARE(bar, m_info->progressBar());
        QCOMPARE(label->accessibleName(), QStringLiteral("Status"));
        QCOMPARE(bar->accessibleName(), QStringLiteral("Progress"));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(96, 96, 96));
        QCOMPARE(bar->palette().color(QPalette::Text), QColor(96, 96, 96));
        QVERIFY(m_info->m_text.isEmpty());
        QVERIFY(label->text().isEmpty());
        // The bar is there, empty, before anyone drives it.
        QVERIFY(!bar->isHidden());
        QCOMPARE(bar->value(), bar->minimum());
        QCOMPARE(m_info->m_progressRange, 0);
    }

    void layoutFollowsDialogUnits()
    {
        const QFont font = m_info->font();
        QCOMPARE(m_info->size(), DluToPixels(QSize(349, 41), font));
        QCOMPARE(m_info->textLabel()->geometry(), DluToPixels(QRect(6, 6, 333, 11), font));
        QCOMPARE(m_info->progressBar()->geometry(), DluToPixels(QRect(6, 17, 336, 11), font));
    }

    void dialogBaseUnits_data()
    {
        QTest::addColumn<int>("pointSize");
        QTest::newRow("tiny font gets the minimum") << 2;
        QTest::newRow("dialog font") << 8;
        QTest::newRow("large font") << 24;
    }

    void dialogBaseUnits()
    {
        QFETCH(int, pointSize);
        QFont font = QGuiApplication::font();
        font.setPointSize(pointSize);
        const QSize base = DialogBaseUnits(font);
        QVERIFY(base.width() >= 6);
        QVERIFY(base.height() >= 13);
        QVERIFY(base.height() >= QFontMetrics(font).height());
        // Four units across and eight down are one base unit.
        QCOMPARE(DluToPixels(QSize(4, 8), font), base);
        QCOMPARE(DluToPixels(QRect(4, 8, 8, 16), font),
                 QRect(QPoint(base.width(), base.height()), base * 2));
        QCOMPARE(DluToPixelsX(400, font), 100 * base.width());
        QCOMPARE(DluToPixelsY(800, font), 100 * base.height());
    }

    void largerFontGivesLargerUnits()
    {
        QFont small = QGuiApplication::font();
        small.setPointSize(10);
        QFont large = small;
        large.setPointSize(30);
        QVERIFY(DialogBaseUnits(large).height() > DialogBaseUnits(small).height());
        QVERIFY(DialogBaseUnits(large).width() > DialogBaseUnits(small).width());
    }

    void latestMessageDecidesWhenTextGoes()
    {
        QSignalSpy expired(m_timer, &QTimer::timeout);
        m_info->ShowStatus("first", 10000, false);
        m_info->ShowStatus("second", 1000, false);
        QCOMPARE(m_info->m_text, QStringLiteral("second"));
        QCOMPARE(m_info->textLabel()->text(), QStringLiteral("second"));
        QVERIFY(m_info->isVisible());
        QCOMPARE(m_timer->interval(), 1000);

        // Well before the first message's 10 s would have run out.
        QTRY_COMPARE_WITH_TIMEOUT(m_info->textLabel()->text(), QString(), 8000);
        QVERIFY(m_info->m_text.isEmpty());
        QCOMPARE(expired.count(), 1);
        QVERIFY(!m_timer->isActive());
    }

    // The caller may keep the thread busy past the duration; the text stays
    // until events are handled again.
    void textStaysWhileCallerIsBusy()
    {
        m_info->ShowStatus("busy", 20, false);
        QThread::msleep(200);
        QCOMPARE(m_info->textLabel()->text(), QStringLiteral("busy"));
        QTRY_VERIFY(m_info->textLabel()->text().isEmpty());
    }

    void waitHoldsAfterPainting_data()
    {
        QTest::addColumn<bool>("wait");
        QTest::addColumn<QList<int>>("holds");
        QTest::newRow("wait") << true << QList<int>{8000};
        QTest::newRow("no wait") << false << QList<int>{};
    }

    void waitHoldsAfterPainting()
    {
        QFETCH(bool, wait);
        QFETCH(QList<int>, holds);

        m_info->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_info.get()));
        PaintCounter paints(m_info->textLabel());

        QList<int> held;
        QString textAtHold;
        int paintsAtHold = -1;
        CInfo::SetHoldFunction([&](int ms) {
            held << ms;
            textAtHold = m_info->textLabel()->text();
            paintsAtHold = paints.count;
        });

        m_info->ShowStatus("Rebooting...", 8000, wait);
        QCOMPARE(held, holds);
        if (wait) {
            QCOMPARE(textAtHold, QStringLiteral("Rebooting..."));
            QVERIFY(paintsAtHold > 0);
        }
        // Painted before returning, without the event loop.
        QVERIFY(paints.count > 0);
    }

    void progress_data()
    {
        // Each call is (range, position).
        QTest::addColumn<QList<QPoint>>("calls");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("range");

        QTest::newRow("empty bar") << QList<QPoint>{{1, 0}} << true << 1 << 0 << 1;
        QTest::newRow("full bar") << QList<QPoint>{{100, 100}} << true << 100 << 100 << 100;
        QTest::newRow("range 0 hides")
            << QList<QPoint>{{100, 40}, {0, 77}} << false << 100 << 40 << 0;
        QTest::newRow("shown again after hiding")
            << QList<QPoint>{{100, 40}, {0, 0}, {100, 5}} << true << 100 << 5 << 100;
        QTest::newRow("same range moves the position")
            << QList<QPoint>{{2048, 10}, {2048, 600}} << true << 2048 << 600 << 2048;
        QTest::newRow("new range")
            << QList<QPoint>{{10, 10}, {500, 20}} << true << 500 << 20 << 500;
        QTest::newRow("32-bit range")
            << QList<QPoint>{{1 << 20, 1 << 19}} << true << (1 << 20) << (1 << 19) << (1 << 20);
        QTest::newRow("position past the end")
            << QList<QPoint>{{10, 3}, {10, 15}} << true << 10 << 10 << 10;
        QTest::newRow("negative position")
            << QList<QPoint>{{10, 3}, {10, -4}} << true << 10 << 0 << 10;
    }

    void progress()
    {
        QFETCH(QList<QPoint>, calls);
        QFETCH(bool, shown);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(int, range);

        for (const QPoint &call : calls)
            m_info->SetProgress(call.x(), call.y());
        QProgressBar *bar = m_info->progressBar();
        QCOMPARE(!bar->isHidden(), shown);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), maximum);
        QCOMPARE(bar->value(), value);
        QCOMPARE(m_info->m_progressRange, range);
    }

    void coreTalksToThePanelWhileItLives()
    {
        Status().ShowStatus("nobody listens", 100, false); // the silent sink
        SetStatusSink(m_info.get());
        Status().ShowStatus("Saved", 2000, false);
        Status().SetProgress(10, 4);
        QCOMPARE(m_info->m_text, QStringLiteral("Saved"));
        QCOMPARE(m_info->progressBar()->value(), 4);

        const auto panel = reinterpret_cast<quintptr>(static_cast<StatusSink *>(m_info.get()));
        m_info.reset();
        QVERIFY(reinterpret_cast<quintptr>(&Status()) != panel);
        Status().ShowStatus("after the panel", 100, false); // must not reach a deleted panel
    }

private:
    std::unique_ptr<CInfo> m_info;
    QTimer *m_timer = nullptr;
};

QTEST_MAIN(TestStatusPanel)
#include "tst_statuspanel.moc"
