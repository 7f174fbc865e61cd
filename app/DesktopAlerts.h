#pragma once

// Installs the desktop's beeper and message boxes for core code to use, and
// removes them again when it goes out of scope.
class DesktopAlerts
{
public:
    DesktopAlerts();
    ~DesktopAlerts();
    DesktopAlerts(const DesktopAlerts &) = delete;
    DesktopAlerts &operator=(const DesktopAlerts &) = delete;
};
