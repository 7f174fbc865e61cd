#pragma once

// Recorders for what the settings form says to the user: warnings, beeps and
// the status line. Installed for the lifetime of the object.

#include "app/StatusSink.h"
#include "app/UserAlerts.h"

#include <QList>
#include <QPair>
#include <QStringList>

namespace formtest {

class Recorders final : public MessageSink, public Beeper, public StatusSink
{
public:
    Recorders()
    {
        SetMessageSink(this);
        SetBeeper(this);
        SetStatusSink(this);
    }
    ~Recorders() override
    {
        SetMessageSink(nullptr);
        SetBeeper(nullptr);
        SetStatusSink(nullptr);
    }
    Recorders(const Recorders &) = delete;
    Recorders &operator=(const Recorders &) = delete;

    void Warning(const QString &, const QString &text) override { warnings << text; }
    void Beep(int frequencyHz, int durationMs) override { beeps.append({frequencyHz, durationMs}); }
    void ShowStatus(const QString &text, int durationMs, bool) override
    {
        statusTexts << text;
        statusDurations << durationMs;
    }
    void SetProgress(int, int) override {}

    QStringList warnings;
    QList<QPair<int, int>> beeps;
    QStringList statusTexts;
    QList<int> statusDurations;
};

} // namespace formtest
