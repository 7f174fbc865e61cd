#include "app/StatusSink.h"

namespace {

// Stands in until the status panel exists (and in command-line tools and
// tests that have no panel), so core code never has to check for one.
class SilentSink final : public StatusSink
{
public:
    void ShowStatus(const QString &, int, bool) override {}
    void SetProgress(int, int) override {}
};

SilentSink g_silentSink;
StatusSink *g_sink = &g_silentSink;

} // namespace

StatusSink &Status()
{
    return *g_sink;
}

void SetStatusSink(StatusSink *sink)
{
    g_sink = sink ? sink : &g_silentSink;
}
