#pragma once

// Recorders for what firmware code shows the user, and a 0x78/0x82 device
// from vxsim with a link already connected to it.

#include "VxsimHarness.h"
#include "app/StatusSink.h"
#include "app/UserAlerts.h"
#include "link/CXmit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringList>
#include <QThread>

namespace fwtest {

struct StatusEvent
{
    QString text;
    int durationMs = 0;
    bool wait = false;
};

class RecordingStatus final : public StatusSink
{
public:
    RecordingStatus() { SetStatusSink(this); }
    ~RecordingStatus() override { SetStatusSink(nullptr); }
    void ShowStatus(const QString &text, int durationMs, bool wait) override
    {
        shows.append({text, durationMs, wait});
    }
    void SetProgress(int range, int position) override
    {
        progress.append(QStringLiteral("%1/%2").arg(position).arg(range));
    }
    QStringList Texts() const
    {
        QStringList out;
        for (const StatusEvent &e : shows)
            out << e.text;
        return out;
    }
    QList<StatusEvent> shows;
    QStringList progress;
};

class RecordingAlerts final : public Beeper, public MessageSink
{
public:
    RecordingAlerts()
    {
        SetBeeper(this);
        SetMessageSink(this);
    }
    ~RecordingAlerts() override
    {
        SetBeeper(nullptr);
        SetMessageSink(nullptr);
    }
    void Beep(int frequencyHz, int durationMs) override
    {
        beeps << QStringLiteral("%1/%2").arg(frequencyHz).arg(durationMs);
    }
    void Warning(const QString &caption, const QString &text) override
    {
        warnings << caption + QStringLiteral(": ") + text;
    }
    // Plain messages are kept apart, and also recorded with the warnings.
    void Notice(const QString &caption, const QString &text) override
    {
        notices << caption + QStringLiteral(": ") + text;
        MessageSink::Notice(caption, text);
    }
    QStringList beeps;
    QStringList warnings;
    QStringList notices;
};

inline QString Md5Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        .toUpper();
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Bytes that are not all alike, with a 0x02 now and then for the frame codec.
inline QByteArray Pattern(int size, int seed = 1)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + seed * 13) % 251);
    return out;
}

// vxsim as a device, and a link of our own connected to it.
class Device
{
public:
    // State files (relative to the state folder) are put there before start.
    bool Start(const QStringList &arguments, const QMap<QString, QByteArray> &state = {})
    {
        for (auto it = state.begin(); it != state.end(); ++it) {
            if (!WriteFile(QDir(sim.StateDir()).filePath(it.key()), it.value()))
                return false;
        }
        if (!sim.Start(arguments))
            return false;
        xmit.SetPortPaths({sim.LinkPath()});
        return Connect();
    }

    bool Connect() { return xmit.FindDevice() != 0; }

    // Tries to find the device again while it restarts.
    bool Reconnect(int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (xmit.FindDevice() != 0)
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    // Request and reply summaries after the last identification, e.g.
    // "> 0xC0 open-read 700", "< 0xF0 ok len=0".
    QStringList Exchanges() const
    {
        const QStringList lines = sim.Transcript();
        QStringList out;
        for (const QString &line : lines) {
            const QString summary = line.section(QStringLiteral(" | "), 1);
            if (summary == QLatin1String("0x10 identify")) {
                out.clear();
                continue;
            }
            if (line.startsWith('<') && out.isEmpty())
                continue; // the reply to the identification
            out << line.left(1) + u' ' + summary;
        }
        return out;
    }

    // Requests only, without the direction.
    QStringList Requests() const
    {
        QStringList out;
        for (const QString &line : Exchanges())
            if (line.startsWith('>'))
                out << line.mid(2);
        return out;
    }

    // Raw bytes of the requests after the last identification.
    QStringList RequestHex() const
    {
        const QStringList lines = sim.Transcript();
        QStringList out;
        for (const QString &line : lines) {
            if (!line.startsWith('>'))
                continue;
            if (line.endsWith(QLatin1String("0x10 identify"))) {
                out.clear();
                continue;
            }
            out << line.mid(2).section(QStringLiteral(" | "), 0, 0);
        }
        return out;
    }

    vxtest::Simulator sim;
    CXmit xmit;
};

} // namespace fwtest
