#pragma once

// Black-box harness for vxsim: starts it on its pseudo-terminal and talks to
// it as a raw serial client would, with a small frame codec of its own.

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vxtest {

inline QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// Request frame as it goes on the line.
inline QByteArray EncodeFrame(quint8 code, const QByteArray &payload)
{
    QByteArray out(1, '\x02');
    quint8 check = 0;
    auto add = [&](quint8 v) {
        check ^= v;
        if (v == 0x02)
            out.append('\x02');
        out.append(char(v));
    };
    const int n = int(payload.size());
    if (n <= 3) {
        add(quint8(code | n));
    } else if (n <= 255) {
        add(quint8(code | 0x04));
        add(quint8(n));
    } else {
        add(quint8(code | 0x08));
        add(quint8(n >> 8));
        add(quint8(n & 0xFF));
    }
    for (char c : payload)
        add(quint8(c));
    if (check == 0x02)
        out.append('\x02');
    out.append(char(check));
    return out;
}

struct Reply
{
    quint8 code = 0;
    QByteArray payload;
    bool checkOk = false;
    QByteArray raw; // every byte read, junk in front included
};

class Simulator
{
public:
    ~Simulator() { Stop(); }

    // Adds --state, --transcript and --link inside a temporary folder unless
    // withFolders is false.
    bool Start(const QStringList &arguments, bool withFolders = true)
    {
        QStringList all = arguments;
        if (withFolders) {
            all << "--state" << StateDir() << "--transcript" << TranscriptPath() << "--link"
                << LinkPath();
        }
        m_process.setProgram(QStringLiteral(VXSIM_PATH));
        m_process.setArguments(all);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        m_path = NextPath(10000);
        return !m_path.isEmpty();
    }

    // The next terminal path vxsim announces on its standard output.
    QString NextPath(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine()) {
            const int left = timeoutMs - int(t.elapsed());
            if (left <= 0 || !m_process.waitForReadyRead(left))
                break;
        }
        if (!m_process.canReadLine())
            return {};
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    void Control(const QByteArray &line)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(5000);
    }

    void CloseInput() { m_process.closeWriteChannel(); }

    // Sends SIGTERM; returns the exit code, or -1 when it did not end normally.
    int Terminate()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    void Stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool Running() const { return m_process.state() == QProcess::Running; }

    // Transcript lines; frame lines lose their leading milliseconds so they
    // can be compared exactly. Event lines ("# ...") are dropped unless asked.
    QStringList Transcript(bool withEvents = false) const
    {
        QFile f(TranscriptPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QString &line :
             QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('#')) {
                if (withEvents)
                    out << line;
                continue;
            }
            out << line.section(' ', 1);
        }
        return out;
    }

    QString Path() const { return m_path; }
    QString Dir() const { return m_dir.path(); }
    QString StateDir() const { return m_dir.filePath("state"); }
    QString TranscriptPath() const { return m_dir.filePath("transcript.txt"); }
    QString LinkPath() const { return m_dir.filePath("ttyVX"); }

    QByteArray StateFile(const QString &relative) const
    {
        QFile f(QDir(StateDir()).filePath(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
};

// A raw client on the terminal.
class Client
{
public:
    explicit Client(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio{};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    bool Send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QElapsedTimer t;
        t.start();
        while (done < bytes.size()) {
            const ssize_t w = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (w > 0) {
                done += w;
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (t.elapsed() > 20000)
                return false;
            // Keep the other direction moving while we wait.
            m_unread += ReadAvailable(5);
        }
        return true;
    }

    // Everything that arrives within ms milliseconds.
    QByteArray ReadFor(int ms)
    {
        QByteArray out = m_unread;
        m_unread.clear();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            out += ReadAvailable(int(ms - t.elapsed()));
        return out;
    }

    // Reads one reply frame as a receiver of the host would: waits for a
    // start byte, accepts only headers 0xE?/0xF?, restarts on a new start.
    std::optional<Reply> ReadReply(int timeoutMs)
    {
        enum { Idle, Header, LenHigh, Len, Payload, Check } state = Idle;
        Reply r;
        bool pending = false;
        int length = 0;
        quint8 check = 0;
        QElapsedTimer t;
        t.start();
        QByteArray buffer = m_unread;
        m_unread.clear();
        int at = 0;
        for (;;) {
            if (at == buffer.size()) {
                const int left = timeoutMs - int(t.elapsed());
                if (left <= 0)
                    return std::nullopt;
                buffer = ReadAvailable(left);
                at = 0;
                continue;
            }
            const quint8 b = quint8(buffer[at++]);
            r.raw.append(char(b));
            bool toFrame = true;
            if (pending) {
                pending = false;
                if (b != 0x02)
                    state = Header;
            } else if (b == 0x02) {
                pending = true;
                toFrame = false;
            }
            if (!toFrame)
                continue;
            check ^= b;
            switch (state) {
            case Idle:
                break;
            case Header:
                if ((b & 0xE0) != 0xE0) {
                    state = Idle;
                    break;
                }
                r.code = b & 0xF0;
                r.payload.clear();
                check = b;
                length = b & 0x03;
                state = (b & 0x08) ? LenHigh : (b & 0x04) ? Len : length ? Payload : Check;
                break;
            case LenHigh:
                length += b * 256;
                state = Len;
                break;
            case Len:
                length += b;
                state = length ? Payload : Check;
                break;
            case Payload:
                r.payload.append(char(b));
                if (r.payload.size() == length)
                    state = Check;
                break;
            case Check:
                r.checkOk = check == 0;
                m_unread = buffer.mid(at);
                return r;
            }
        }
    }

    std::optional<Reply> Transact(quint8 code, const QByteArray &payload, int timeoutMs = 5000)
    {
        if (!Send(EncodeFrame(code, payload)))
            return std::nullopt;
        return ReadReply(timeoutMs);
    }

    // True once the other side of the terminal has gone away.
    bool HungUp(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (::poll(&p, 1, 50) > 0) {
                if (p.revents & (POLLHUP | POLLERR))
                    return true;
                char buf[256];
                const ssize_t r = ::read(m_fd, buf, sizeof buf);
                if (r == 0 || (r < 0 && errno == EIO))
                    return true;
            }
        }
        return false;
    }

private:
    QByteArray ReadAvailable(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, qMax(0, timeoutMs));
        if (ready <= 0)
            return {};
        if (!(p.revents & POLLIN)) {
            ::usleep(5000); // hung up: nothing will come, do not spin
            return {};
        }
        char buf[65536];
        const ssize_t r = ::read(m_fd, buf, sizeof buf);
        return r > 0 ? QByteArray(buf, int(r)) : QByteArray();
    }

    int m_fd = -1;
    QByteArray m_unread;
};

} // namespace vxtest
