#pragma once

#include <QString>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

// A pseudo-terminal with nobody answering on it: a port where a scan waits
// for its time-out.
class SilentTerminal
{
public:
    SilentTerminal()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0)
            m_path = QString::fromLocal8Bit(ptsname(m_master));
    }
    ~SilentTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    SilentTerminal(const SilentTerminal &) = delete;
    SilentTerminal &operator=(const SilentTerminal &) = delete;

    QString path() const { return m_path; }
    // The far end: what the program wrote can be read here.
    int master() const { return m_master; }

private:
    int m_master = -1;
    QString m_path;
};
