#pragma once

#include <QString>

// How core code beeps and asks the user to acknowledge a message. The
// program installs the desktop's implementations at start-up; without them
// (command-line runs, most tests) beeps are silent and messages go to the
// standard error stream. Tests install recorders.
class Beeper
{
public:
    virtual ~Beeper() = default;
    // A tone of the given frequency and length; may return before it ends.
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

class MessageSink
{
public:
    virtual ~MessageSink() = default;
    // A modal warning with one OK button; returns when it was acknowledged.
    virtual void Warning(const QString &caption, const QString &text) = 0;
    // A plain modal message with one OK button and no icon. A sink without
    // a plain variant shows it as a warning.
    virtual void Notice(const QString &caption, const QString &text) { Warning(caption, text); }
};

void PlayBeep(int frequencyHz, int durationMs);
void SetBeeper(Beeper *beeper); // nullptr restores the silent one

void ShowWarning(const QString &caption, const QString &text);
void ShowNotice(const QString &caption, const QString &text);
void SetMessageSink(MessageSink *sink); // nullptr restores the stderr one
