#include "app/CInfo.h"

#include "app/DialogUnits.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <utility>

namespace {

std::function<void(int)> &HoldFunction()
{
    static std::function<void(int)> hold;
    return hold;
}

void Hold(int ms)
{
    if (ms <= 0)
        return;
    if (const auto &hold = HoldFunction())
        hold(ms);
    else
        QThread::msleep(static_cast<unsigned long>(ms));
}

} // namespace

CInfo::CInfo(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusPanel"));
    setAccessibleName(QStringLiteral("Status panel"));
    setFixedSize(DluToPixels(QSize(349, 41), font()));

    // Every text of the panel is drawn in the same grey.
    QPalette grey = palette();
    const QColor textColour(96, 96, 96);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        grey.setColor(role, textColour);
    setPalette(grey);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("statusText"));
    m_label->setAccessibleName(QStringLiteral("Status"));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_label->setGeometry(DluToPixels(QRect(6, 6, 333, 11), font()));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setGeometry(DluToPixels(QRect(6, 17, 336, 11), font()));

    m_clearTimer = new QTimer(this);
    m_clearTimer->setObjectName(QStringLiteral("clearTimer"));
    m_clearTimer->setSingleShot(true);
    connect(m_clearTimer, &QTimer::timeout, this, &CInfo::ClearText);
}

CInfo::~CInfo()
{
    // Core code must not talk to a panel that is gone.
    if (&Status() == this)
        SetStatusSink(nullptr);
}

void CInfo::ShowStatus(const QString &text, int durationMs, bool wait)
{
    m_text = text;
    m_label->setText(m_text);

    // start() restarts a running timer: the latest message decides when the
    // text goes.
    m_clearTimer->start(qMax(0, durationMs));

    // Paint now: callers often go on working (or hold the thread) without
    // returning to the event loop.
    show();
    m_label->repaint();
    repaint();

    if (wait)
        Hold(durationMs);
}

void CInfo::SetProgress(int range, int position)
{
    if (range == 0) {
        m_progress->hide();
        m_progressRange = 0;
        return;
    }
    if (range != m_progressRange) {
        m_progress->setRange(0, range);
        m_progress->show();
    }
    // A position outside the range would be ignored by the bar and leave a
    // stale one showing; pin it to the nearest end instead.
    m_progress->setValue(qBound(m_progress->minimum(), position, m_progress->maximum()));
    m_progressRange = range;
    // Transfers move the bar without returning to the event loop.
    m_progress->repaint();
}

void CInfo::SetHoldFunction(std::function<void(int ms)> hold)
{
    HoldFunction() = std::move(hold);
}

void CInfo::ClearText()
{
    m_clearTimer->stop();
    m_text.clear();
    m_label->setText(m_text);
}
