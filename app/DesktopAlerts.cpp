#include "app/DesktopAlerts.h"

#include "app/UserAlerts.h"

#include <QApplication>
#include <QMessageBox>

namespace {

class DesktopBeeper final : public Beeper
{
public:
    void Beep(int, int) override { QApplication::beep(); }
};

class DesktopMessages final : public MessageSink
{
public:
    void Warning(const QString &caption, const QString &text) override
    {
        QMessageBox::warning(QApplication::activeWindow(), caption, text);
    }
};

DesktopBeeper g_desktopBeeper;
DesktopMessages g_desktopMessages;

} // namespace

DesktopAlerts::DesktopAlerts()
{
    SetBeeper(&g_desktopBeeper);
    SetMessageSink(&g_desktopMessages);
}

DesktopAlerts::~DesktopAlerts()
{
    SetBeeper(nullptr);
    SetMessageSink(nullptr);
}
