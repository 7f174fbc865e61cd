#include "app/RIR310IvoduDed.h"

#include "app/AppState.h"
#include "app/CInfo.h"
#include "app/RefusedPorts.h"
#include "app/StatusSink.h"
#include "app/TextTable.h"
#include "firmware/FirmwareCheck.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

// The icon lives in zl_ui, a static library: its resources have to be pulled
// in by name or the linker drops them.
static void InitResources()
{
    Q_INIT_RESOURCE(zephalink);
}

namespace {

constexpr int kRowWaitingConnection = 0;
constexpr int kRowHardwareConnected = 1;
constexpr int kWaitingConnectionMs = 200;
constexpr int kHardwareConnectedMs = 1000;

int UpperFrameHeight(const CSetting *form)
{
    const auto *frame = form->findChild<const QWidget *>(QStringLiteral("upperFrame"));
    return frame ? frame->height() : form->sizeHint().height();
}

// Height the form takes in the window once a device is connected.
int ConnectedFormHeight(const CSetting *form)
{
    return g_manufacturerMode ? form->sizeHint().height() : UpperFrameHeight(form);
}

} // namespace

RIR310IvoduDed::RIR310IvoduDed(QWidget *parent) : QDialog(parent)
{
    InitResources();
    setObjectName(QStringLiteral("mainWindow"));

    m_hIcon.addFile(QStringLiteral(":/icons/zephalink-32.png"));
    m_hIcon.addFile(QStringLiteral(":/icons/zephalink.png"));
    setWindowIcon(m_hIcon);
    setWindowTitle(BaseTitle());

    // Both panels exist for the whole run and start hidden.
    m_form = new CSetting(this);
    m_form->hide();
    m_info = new CInfo(this);
    m_info->move(0, 0);
    m_info->hide();
    SetStatusSink(m_info);

    // Sized for searching from the start, so the first attempt does not make
    // the window jump.
    setFixedSize(m_form->sizeHint().width(), m_info->height() + kExtraHeight);

    m_connectTimer = new QTimer(this);
    m_connectTimer->setObjectName(QStringLiteral("connectTimer"));
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, &RIR310IvoduDed::OnConnectTimer);
    m_linkWatchTimer = new QTimer(this);
    m_linkWatchTimer->setObjectName(QStringLiteral("linkWatchTimer"));
    m_linkWatchTimer->setSingleShot(true);
    connect(m_linkWatchTimer, &QTimer::timeout, this, &RIR310IvoduDed::OnLinkWatchTimer);
}

RIR310IvoduDed::~RIR310IvoduDed()
{
    m_connectTimer->stop();
    m_linkWatchTimer->stop();
    if (&Status() == m_info)
        SetStatusSink(nullptr);
}

QString RIR310IvoduDed::BaseTitle()
{
    return QString::asprintf("ZEPHALINK %d.%d - MORVENTIQUE", kVersionMajor, kVersionMinor);
}

void RIR310IvoduDed::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_started && !event->spontaneous()) {
        PlaceOnScreen();
        // The first scan blocks the window; give it the chance to paint first.
        m_started = true;
        m_connectTimer->start(kFirstAttemptMs);
    }
}

void RIR310IvoduDed::PlaceOnScreen()
{
    // The window grows downwards when a device connects (its top stays put).
    // Centred at its small searching size, it would then hang off the bottom
    // of many screens; centre it for the size it will have instead.
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const int decoration = qMax(0, frameGeometry().height() - height());
    const int connectedHeight =
        ConnectedFormHeight(m_form) + m_info->height() + kExtraHeight + decoration;
    const int left = available.left() + qMax(0, (available.width() - frameGeometry().width()) / 2);
    const int top = available.top() + qMax(0, (available.height() - connectedHeight) / 2);
    move(left, top);
}

void RIR310IvoduDed::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void RIR310IvoduDed::done(int result)
{
    // Closing ends the search and the watch and lets go of the port (and its
    // lock) at once; nothing is sent to the device.
    m_started = false;
    m_connectTimer->stop();
    m_linkWatchTimer->stop();
    m_form->StopFormTimer();
    g_xmit.ClosePort();
    QDialog::done(result);
}

void RIR310IvoduDed::OnConnectTimer()
{
    m_connectTimer->stop();
    const int connected = TryConnect();
    // The window may have been closed while the attempt was under way (a
    // message box runs its own event loop); then nothing more is armed.
    if (!m_started)
        return;
    if (connected) {
        m_linkWatchTimer->start(kFirstWatchMs);
        emit deviceConnected();
    } else {
        m_connectTimer->start(kRetryMs);
    }
}

void RIR310IvoduDed::OnLinkWatchTimer()
{
    m_linkWatchTimer->stop();
    // Several failures since the last look count as one.
    const int linkError = g_xmit.m_linkError;
    g_xmit.m_linkError = 0;
    if (linkError == 0 && g_forceUpgrade == 0) {
        m_linkWatchTimer->start(kWatchMs);
        return;
    }

    // Edits not yet written go with the form timer.
    m_form->StopFormTimer();
    m_form->hide();
    UpdateLayout(nullptr);
    g_xmit.ClosePort();
    m_connectTimer->start(kAfterLossMs);
    emit connectionDropped();
}

int RIR310IvoduDed::TryConnect()
{
    if (g_xmit.m_rebootPending) {
        m_info->ShowStatus(QStringLiteral("Rebooting, wait..."), kRebootHoldMs, true);
        g_xmit.m_rebootPending = 0;
    }
    m_info->ShowStatus(GetText(kRowWaitingConnection), kWaitingConnectionMs, false);
    m_info->SetProgress(1, 0);
    UpdateLayout(nullptr);

    if (g_xmit.FindDevice() == 0) {
        ReportRefusedPorts();
        return 0;
    }
    if (CheckFirmwareAfterConnect() == 1)
        return 0; // the device is restarting; the next attempt waits for it

    UpdateLayout(m_form);
    m_form->PrepareForDevice();
    m_info->ShowStatus(GetText(kRowHardwareConnected), kHardwareConnectedMs, false);
    return 1;
}

void RIR310IvoduDed::ReportRefusedPorts()
{
    const QString notice = DescribeRefusedPorts(g_xmit.LastScanRefusals());
    if (!notice.isEmpty())
        m_info->ShowStatus(notice, kRefusalNoticeMs, false);
}

void RIR310IvoduDed::UpdateLayout(CSetting *form)
{
    const int width = this->width();
    QString title = BaseTitle();
    int formHeight = 0;

    if (form) {
        title += QString::asprintf(" (S%d.%dH%d)", g_softwareVersion / 10, g_softwareVersion % 10,
                                   g_hardwareVersion);
        // Outside manufacturer mode the form is cut to its upper frame, so the
        // manufacturer's tools below it are out of view.
        formHeight = ConnectedFormHeight(form);
        form->setGeometry(0, 0, form->sizeHint().width(), formHeight);
    } else {
        m_form->hide();
    }

    m_info->move(0, formHeight);
    m_info->show();

    // Resizing a top-level window leaves its left and top where they are.
    setFixedSize(width, formHeight + m_info->height() + kExtraHeight);
    setWindowTitle(title);
}

// The firmware check itself is core code over the link; the window only lends
// it the means to refuse input while an image goes out.
int RIR310IvoduDed::CheckFirmwareAfterConnect()
{
    const WindowInputLock lock = [this](bool enabled) {
        if (!enabled) {
            setEnabled(false);
            repaint(); // seen as disabled at once: the upload holds the thread
            return;
        }
        // Clicks and keys that came in meanwhile reach a disabled window and
        // are dropped, instead of acting once it is enabled again.
        QCoreApplication::processEvents();
        setEnabled(true);
    };
    return ::CheckFirmwareAfterConnect(g_xmit, lock);
}
