#pragma once

#include <QString>

// How core code talks to the user: the status line and the progress bar.
// The status panel implements it; without one, nothing is shown.
class StatusSink
{
public:
    virtual ~StatusSink() = default;
    virtual void ShowStatus(const QString &text, int durationMs, bool wait) = 0;
    virtual void SetProgress(int range, int position) = 0;
};

StatusSink &Status();
void SetStatusSink(StatusSink *sink); // nullptr restores the silent sink
