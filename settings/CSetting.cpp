#include "settings/CSetting.h"

#include "app/DialogUnits.h"
#include "link/CXmit.h"

#include <QFrame>
#include <QKeyEvent>
#include <QRect>
#include <QTimer>

CSetting::CSetting(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("settingsForm"));
    setAccessibleName(QStringLiteral("Device settings"));

    // Marks the part of the form a technician sees. It is never drawn: it is
    // only measured by the main window, and hidden so it takes no clicks.
    m_upperFrame = new QFrame(this);
    m_upperFrame->setObjectName(QStringLiteral("upperFrame"));
    m_upperFrame->setFrameShape(QFrame::NoFrame);
    m_upperFrame->setGeometry(DluToPixels(QRect(QPoint(0, 0), kUpperFrameDlu), font()));
    m_upperFrame->hide();

    resize(sizeHint());

    m_formTimer = new QTimer(this);
    m_formTimer->setObjectName(QStringLiteral("formTimer"));
    m_formTimer->setSingleShot(true);
    connect(m_formTimer, &QTimer::timeout, this, &CSetting::OnFormTimer);

    hide();
}

QSize CSetting::sizeHint() const
{
    return DluToPixels(kFormDlu, font());
}

void CSetting::PrepareForDevice()
{
    show();
    m_formTimer->start(kFirstTickMs);
}

void CSetting::StopFormTimer()
{
    m_formTimer->stop();
}

bool CSetting::IsFormTimerActive() const
{
    return m_formTimer->isActive();
}

void CSetting::OnFormTimer()
{
    m_formTimer->stop();
    // Nothing is pending yet (the edits come with the form's controls), so
    // every tick is an idle poll. Its failure raises the link error, which
    // is how a device that went away is noticed.
    quint8 identity[8] = {};
    g_xmit.PollIdentity(identity, sizeof identity);
    m_formTimer->start(kTickMs);
}

void CSetting::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
