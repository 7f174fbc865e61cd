#include "app/SimulatorProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

SimulatorProcess::SimulatorProcess()
{
    // Its complaints belong on our stderr; its stdout carries the pty path.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Once the pty is known, anything else it prints is of no use; drop it so
    // it does not pile up for the whole run.
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
        if (!m_ptyPath.isEmpty())
            m_process.readAllStandardOutput();
    });
}

SimulatorProcess::~SimulatorProcess()
{
    Stop();
}

QString SimulatorProcess::DefaultProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vxsim"));
}

QString SimulatorProcess::StateFolder() const
{
    return m_folder ? m_folder->filePath(QStringLiteral("state")) : QString();
}

bool SimulatorProcess::Start(const QString &program, const QString &type, QString *errorText,
                             const QStringList &extraArguments, int startTimeoutMs)
{
    auto fail = [&](const QString &why) {
        if (errorText)
            *errorText = why;
        Stop();
        return false;
    };

    Stop();
    const QFileInfo info(program);
    if (!info.exists())
        return fail(QStringLiteral("The device simulator was not found at %1.").arg(program));
    if (!info.isExecutable())
        return fail(QStringLiteral("The device simulator at %1 cannot be run.").arg(program));
    if (!m_folder)
        m_folder = std::make_unique<QTemporaryDir>();
    if (!m_folder->isValid()) {
        const QString why = m_folder->errorString();
        m_folder.reset();
        return fail(QStringLiteral("No temporary folder for the device simulator: %1.").arg(why));
    }
    if (!QDir().mkpath(StateFolder()))
        return fail(QStringLiteral("Cannot create the folder %1.").arg(StateFolder()));

    m_linkPath = m_folder->filePath(QStringLiteral("ttyVX0"));
    QStringList arguments{QStringLiteral("--type"),
                          type,
                          QStringLiteral("--link"),
                          m_linkPath,
                          QStringLiteral("--state"),
                          StateFolder(),
                          QStringLiteral("--exit-with-parent")};
    arguments += extraArguments;

    m_process.start(program, arguments);
    if (!m_process.waitForStarted(startTimeoutMs))
        return fail(QStringLiteral("The device simulator %1 did not start: %2.")
                        .arg(program, m_process.errorString()));

    // The first line of its output is the pty; until then it is not ready.
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running) {
            if (m_process.exitStatus() == QProcess::NormalExit)
                return fail(QStringLiteral("The device simulator %1 ended (exit code %2) "
                                           "without reporting its port.")
                                .arg(program)
                                .arg(m_process.exitCode()));
            return fail(QStringLiteral("The device simulator %1 crashed before reporting its port.")
                            .arg(program));
        }
        if (deadline.hasExpired())
            return fail(
                QStringLiteral("The device simulator %1 did not report its port.").arg(program));
        m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_ptyPath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (m_ptyPath.isEmpty())
        return fail(QStringLiteral("The device simulator %1 reported no port.").arg(program));
    return true;
}

void SimulatorProcess::Stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    m_ptyPath.clear();
}

bool SimulatorProcess::IsRunning() const
{
    return m_process.state() == QProcess::Running;
}

void SimulatorProcess::SendControl(const QString &line)
{
    m_process.write(line.toLocal8Bit() + '\n');
    m_process.waitForBytesWritten(1000);
}
