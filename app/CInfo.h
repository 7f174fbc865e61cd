#pragma once

#include "app/StatusSink.h"

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;
class QTimer;

// The status panel at the bottom of the main window: one line of text that
// clears itself after a while, and a progress bar for long transfers.
class CInfo : public QWidget, public StatusSink
{
    Q_OBJECT

public:
    explicit CInfo(QWidget *parent = nullptr);
    ~CInfo() override;

    // Shows text now, even if the caller keeps the event loop busy, and
    // clears it durationMs later; a newer message replaces the pending clear.
    // With wait, the calling thread is held for durationMs after painting.
    void ShowStatus(const QString &text, int durationMs, bool wait) override;
    // range 0 hides the bar; any other range shows it with that range.
    void SetProgress(int range, int position) override;

    // Replaces the thread hold used by ShowStatus with wait (for tests);
    // nullptr restores QThread::msleep.
    static void SetHoldFunction(std::function<void(int ms)> hold);

    QLabel *textLabel() const { return m_label; }
    QProgressBar *progressBar() const { return m_progress; }

    QString m_text;
    int m_progressRange = 0;

private:
    void ClearText();

    QLabel *m_label = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer *m_clearTimer = nullptr;
};
