#include "app/UserAlerts.h"

#include <cstdio>

namespace {

class SilentBeeper final : public Beeper
{
public:
    void Beep(int, int) override {}
};

class StderrMessages final : public MessageSink
{
public:
    void Warning(const QString &caption, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        std::fflush(stderr);
    }
};

SilentBeeper g_silentBeeper;
Beeper *g_beeper = &g_silentBeeper;
StderrMessages g_stderrMessages;
MessageSink *g_messages = &g_stderrMessages;

} // namespace

void PlayBeep(int frequencyHz, int durationMs)
{
    g_beeper->Beep(frequencyHz, durationMs);
}

void SetBeeper(Beeper *beeper)
{
    g_beeper = beeper ? beeper : &g_silentBeeper;
}

void ShowWarning(const QString &caption, const QString &text)
{
    g_messages->Warning(caption, text);
}

void ShowNotice(const QString &caption, const QString &text)
{
    g_messages->Notice(caption, text);
}

void SetMessageSink(MessageSink *sink)
{
    g_messages = sink ? sink : &g_stderrMessages;
}
