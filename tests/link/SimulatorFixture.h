#pragma once

// Starts the device simulator on its own pseudo-terminal and stops it again.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

class Simulator
{
public:
    // Extra arguments go straight to vxsim (--type, --sw, --fault ...).
    bool start(const QStringList &arguments = {})
    {
        m_link = m_dir.filePath("ttyVX0");
        QStringList all = arguments;
        all << "--link" << m_link << "--state" << m_dir.filePath("state") << "--transcript"
            << m_dir.filePath("transcript.txt");
        m_process.setProgram(QStringLiteral(VXSIM_PATH));
        m_process.setArguments(all);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        // The first line of its output is the slave side of its terminal.
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(5000))
                return false;
        }
        m_slave = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return !m_slave.isEmpty();
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // A control line on the simulator's standard input ("silent on", ...).
    void control(const QByteArray &line)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(1000);
    }

    QStringList transcript() const
    {
        QFile file(m_dir.filePath("transcript.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    ~Simulator() { stop(); }

    QString link() const { return m_link; }
    QString slave() const { return m_slave; }
    QString dir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_link;
    QString m_slave;
};
