#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The device simulator (vxsim) run as a child process on a pseudo-terminal.
// Its pty is reached through a stable link in a private temporary folder,
// which survives the simulator vanishing and coming back. The folder is made
// by the first Start and removed with this object; the simulator is stopped
// when this object goes.
class SimulatorProcess
{
public:
    SimulatorProcess();
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // The simulator beside this program's executable.
    static QString DefaultProgram();

    // Starts program as a device of type ("0x82" or "0x78"), with extra
    // options appended, and waits for it to report its pty. False, with
    // errorText saying why, when it could not be started.
    bool Start(const QString &program, const QString &type, QString *errorText,
               const QStringList &extraArguments = {}, int startTimeoutMs = 10000);
    void Stop();
    bool IsRunning() const;

    // Path discovery should use: the stable link to the current pty.
    QString LinkPath() const { return m_linkPath; }
    // The pty the simulator reported at start.
    QString PtyPath() const { return m_ptyPath; }
    QString StateFolder() const;

    // Sends one control line to the simulator's standard input.
    void SendControl(const QString &line);

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QProcess m_process;
    QString m_linkPath;
    QString m_ptyPath;
};
