// vxsim: a stand-in for the encoder-modulator, served on a pseudo-terminal.
// See tools/README.md and --help.

#include "tools/VxCodec.h"
#include "tools/VxDevice.h"
#include "tools/VxFaults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

using namespace vx;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const char kHelp[] = R"(usage: vxsim [options]

Simulates one encoder-modulator on a pseudo-terminal. The first line on
standard output is the terminal's path; after a vanish (below) each new path
is printed as a further line. Runs until SIGTERM or SIGINT.

Options (NUMBER is decimal, or hexadecimal with 0x):
  --type 0x82|0x78     device family (default 0x82)
  --sw NUMBER          software version byte, in tenths (default 23)
  --hw NUMBER          hardware version byte (default 1)
  --status NUMBER      status byte of a 0x78 device (default 0)
  --id-bytes HEX       identification payload to send instead, e.g. 820001 or 82
  --state DIR          what the device keeps (default: a fresh folder under /tmp,
                       removed at exit). Missing default files are created;
                       files already there are left as they are:
                         DIR/fs/...            files by device path (0x82);
                                               DIR/fs/VX360HD/current11.cfg is
                                               the configuration record
                         DIR/files/N.bin       numbered file N (0x78): 590, 595
                                               configuration, 600 I/Q table
                         DIR/image.bin         last firmware image received (0x82)
  --transcript FILE    log every frame to FILE (format below)
  --restart-ms N       silence after a restart command (default 2000)
  --finish-ms N        time the 0x82 device takes to store an image before it
                       answers the end of an upload (default 0)
  --baud N             pace the output at N bit/s, 10 bits per byte (default: unpaced)
  --pace-input         with --baud: a request counts as received only once its
                       bytes could have arrived at that rate
  --fault FAULT        misbehave as FAULT says (repeatable; below)
  --link PATH          keep a symbolic link PATH -> current terminal path
  --exit-with-parent   end (as on SIGTERM) when the parent process ends
  --verbose            copy the transcript lines to standard error
  --help               this text

Release rule: an uploaded 0x82 image announces its release by the ASCII text
VXSIM-RELEASE= followed by decimal digits (first occurrence only). After the
next restart the device reports that number (0..255) as its software version.
An image without it, or with a number above 255, leaves the version unchanged.

FAULT: KIND@TARGET[,times=N]
  KIND    refuse      answer 0xE0 (the command is not carried out)
          silent      no answer (the command is not carried out)
          badcheck    answer with a wrong check byte
          garbage     send junk (stray bytes, start bytes followed by headers
                      below 0xE0) before the correct answer
          delay:MS    answer MS milliseconds late
          vanish:MS   no answer; the terminal disappears (link removed) and a
                      new one appears MS milliseconds later
  TARGET  cmd=0xC0    every request with that command code
          cmd=0xC0/03 ... whose first payload byte (sub-command) is 0x03
          frame=N     the Nth complete request frame since start (1-based;
                      frames with a bad check count too)
  times=N fire N times only (default: every time). The first matching fault
          applies; a request gets at most one.
  e.g.  --fault silent@cmd=0x10,times=2  --fault delay:300@cmd=0xC0/03

Standard input takes one control per line: a FAULT, "status N",
"vanish MS", "silent on", "silent off" (ignore every request), "clear" (drop
all faults, silent off). End of input is not the end of the simulator.

Transcript: one line per frame, flushed at once.
  MS DIR HEX | SUMMARY
  MS       milliseconds since start
  DIR      ">" host to device, "<" device to host
  HEX      the bytes exactly as on the line, upper case, single blanks
  SUMMARY  requests: "0x10 identify", "0x20 restart", "0xD0 restart",
           "0x50 write-config N", "0x70 read-config", "0x80 \"sync\"",
           "0xA0 create /mnt/logo.dg1", "0xA0 append N", "0xA0 close",
           "0xB0 apply", "0xC0 open-write 590", "0xC0 open-read 590",
           "0xC0 read 256", "0xC0 write N", "0xC0 close", "0xC0 image-begin",
           "0xC0 image-block N at OFFSET", "0xC0 image-end",
           "0xNN sub=0xSS len=N" (malformed), "0xNN unknown len=N",
           "BADCHECK" (no answer);
           replies: "0xF0 ok len=N", "0xE0 refused", "0xF0 ok len=N badcheck",
           "garbage" (junk of a garbage fault).
  Lines starting with "#" are events, "# MS text": faults applied, refusal
  reasons, stray bytes, dropped partial frames, restarts, vanish and return.
)";

volatile std::sig_atomic_t g_signalled = 0;
int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    g_signalled = 1;
    const char b = 1;
    [[maybe_unused]] ssize_t r = ::write(g_signalPipe[1], &b, 1);
}

struct Options
{
    DeviceOptions device;
    bool stateGiven = false;
    std::string transcript;
    std::string link;
    bool exitWithParent = false;
    bool verbose = false;
    int restartMs = 2000;
    int finishMs = 0;
    long baud = 0;
    bool paceInput = false;
    std::vector<Fault> faults;
};

bool ParseNumber(const std::string &text, unsigned long max, unsigned long &value)
{
    std::string digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty() || digits.size() > 12) {
        return false;
    }
    for (char ch : digits) {
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(ch))
                         : std::isdigit(static_cast<unsigned char>(ch)))) {
            return false;
        }
    }
    value = std::strtoul(digits.c_str(), nullptr, base);
    return value <= max;
}

bool ParseHexBytes(const std::string &text, Bytes &out)
{
    std::string t = text;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t = t.substr(2);
    }
    if (t.empty() || t.size() % 2 != 0 || t.size() > 2 * kMaxReplyPayload) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < t.size(); i += 2) {
        unsigned long v = 0;
        if (!ParseNumber("0x" + t.substr(i, 2), 0xFF, v)) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

// An empty path would put what it names at the filesystem root (or nowhere).
bool NotEmpty(const std::string &name, const std::string &value)
{
    if (!value.empty()) {
        return true;
    }
    std::fprintf(stderr, "vxsim: %s needs a path, not an empty value\n", name.c_str());
    return false;
}

// 0 = run, 1 = help shown, 2 = usage error (message printed)
int ParseOptions(int argc, char **argv, Options &o)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&](std::string &v) {
            if (inlineValue) {
                v = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "vxsim: %s needs a value\n", name.c_str());
                return false;
            }
            v = args[++i];
            return true;
        };
        auto number = [&](unsigned long max, unsigned long &n) {
            std::string v;
            if (!value(v)) {
                return false;
            }
            if (!ParseNumber(v, max, n)) {
                std::fprintf(stderr, "vxsim: bad value for %s: %s\n", name.c_str(), v.c_str());
                return false;
            }
            return true;
        };
        unsigned long n = 0;
        std::string v;
        if (name == "--help" || name == "-h") {
            std::fputs(kHelp, stdout);
            return 1;
        } else if (name == "--type") {
            if (!number(0xFF, n)) {
                return 2;
            }
            if (n != kType82 && n != kType78) {
                std::fprintf(stderr, "vxsim: --type is 0x82 or 0x78\n");
                return 2;
            }
            o.device.type = static_cast<std::uint8_t>(n);
        } else if (name == "--sw" || name == "--hw" || name == "--status") {
            if (!number(0xFF, n)) {
                return 2;
            }
            auto &field = name == "--sw"   ? o.device.sw
                          : name == "--hw" ? o.device.hw
                                           : o.device.status;
            field = static_cast<std::uint8_t>(n);
        } else if (name == "--id-bytes") {
            Bytes b;
            if (!value(v)) {
                return 2;
            }
            if (!ParseHexBytes(v, b)) {
                std::fprintf(stderr, "vxsim: --id-bytes takes hex byte pairs, e.g. 820001\n");
                return 2;
            }
            o.device.idBytes = b;
        } else if (name == "--state") {
            if (!value(o.device.stateDir) || !NotEmpty(name, o.device.stateDir)) {
                return 2;
            }
            o.stateGiven = true;
        } else if (name == "--transcript") {
            if (!value(o.transcript) || !NotEmpty(name, o.transcript)) {
                return 2;
            }
        } else if (name == "--link") {
            if (!value(o.link) || !NotEmpty(name, o.link)) {
                return 2;
            }
        } else if (name == "--restart-ms" || name == "--finish-ms") {
            if (!number(3600000, n)) {
                return 2;
            }
            (name == "--restart-ms" ? o.restartMs : o.finishMs) = static_cast<int>(n);
        } else if (name == "--baud") {
            if (!number(100000000, n)) {
                return 2;
            }
            o.baud = static_cast<long>(n);
        } else if (name == "--fault") {
            Fault f;
            std::string error;
            if (!value(v)) {
                return 2;
            }
            if (!ParseFault(v, f, error)) {
                std::fprintf(stderr, "vxsim: %s\n", error.c_str());
                return 2;
            }
            o.faults.push_back(f);
        } else if (name == "--pace-input") {
            o.paceInput = true;
        } else if (name == "--exit-with-parent") {
            o.exitWithParent = true;
        } else if (name == "--verbose") {
            o.verbose = true;
        } else {
            std::fprintf(stderr, "vxsim: unknown option %s (see --help)\n", args[i].c_str());
            return 2;
        }
    }
    return 0;
}

class Transcript
{
public:
    Transcript(Clock::time_point start, bool verbose) : m_start(start), m_verbose(verbose) {}
    ~Transcript()
    {
        if (m_file) {
            std::fclose(m_file);
        }
    }

    bool Open(const std::string &path)
    {
        m_file = std::fopen(path.c_str(), "w");
        return m_file != nullptr;
    }

    void Frame(char dir, const Bytes &bytes, const std::string &summary)
    {
        Write(std::to_string(Now()) + " " + dir + " " + Hex(bytes) + " | " + summary + "\n");
    }

    void Note(const std::string &text) { Write("# " + std::to_string(Now()) + " " + text + "\n"); }

private:
    long long Now() const { return std::chrono::duration_cast<Ms>(Clock::now() - m_start).count(); }

    void Write(const std::string &line)
    {
        if (m_file) {
            std::fputs(line.c_str(), m_file);
            std::fflush(m_file);
        }
        if (m_verbose) {
            std::fputs(line.c_str(), stderr);
        }
    }

    Clock::time_point m_start;
    bool m_verbose;
    std::FILE *m_file = nullptr;
};

class Pty
{
public:
    ~Pty() { Close(); }

    bool Open(std::string &error)
    {
        Close();
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0) {
            error = std::string("posix_openpt: ") + std::strerror(errno);
            return false;
        }
        char name[256];
        if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
            ::ptsname_r(m_master, name, sizeof name) != 0) {
            error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
            Close();
            return false;
        }
        // Our own slave descriptor keeps the terminal alive between clients
        // (no EIO on the master when a client closes) and lets us put it in
        // raw mode before anyone opens it.
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0) {
            error = std::string("open ") + name + ": " + std::strerror(errno);
            Close();
            return false;
        }
        termios tio{};
        if (::tcgetattr(m_slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B115200);
            ::cfsetospeed(&tio, B115200);
            ::tcsetattr(m_slave, TCSANOW, &tio);
        }
        const int flags = ::fcntl(m_master, F_GETFL);
        ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        m_path = name;
        return true;
    }

    void Close()
    {
        if (m_slave >= 0) {
            ::close(m_slave);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
        m_slave = m_master = -1;
        m_path.clear();
    }

    bool IsOpen() const { return m_master >= 0; }
    int Master() const { return m_master; }
    const std::string &Path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

class Simulator
{
public:
    Simulator(Options options, Clock::time_point start)
        : m_opt(std::move(options)), m_device(m_opt.device), m_log(start, m_opt.verbose)
    {
        for (const Fault &f : m_opt.faults) {
            m_faults.Add(f);
        }
        m_device.SetImageFinishDelay(m_opt.finishMs);
    }

    bool Start(std::string &error)
    {
        if (!m_opt.transcript.empty() && !m_log.Open(m_opt.transcript)) {
            error = "cannot write transcript " + m_opt.transcript;
            return false;
        }
        if (!m_device.Seed(error)) {
            return false;
        }
        if (!m_pty.Open(error)) {
            return false;
        }
        // Logged before the path is announced, so whoever reads the path
        // finds the line already there.
        m_log.Note("start type=0x" + HexOf(m_opt.device.type) +
                   " sw=" + std::to_string(m_opt.device.sw) + " terminal " + m_pty.Path() +
                   " state " + m_opt.device.stateDir);
        // Whoever asked for the link reaches us only through it: without it,
        // announcing the terminal would only hide the failure.
        if (!UpdateLink(error)) {
            m_linkFailed = true;
            return false;
        }
        Announce();
        return true;
    }

    // The --link could not be made: a usage error, not a fault of ours.
    bool LinkFailed() const { return m_linkFailed; }

    void Run()
    {
        while (!g_signalled) {
            pollfd fds[3];
            nfds_t n = 0;
            fds[n++] = {g_signalPipe[0], POLLIN, 0};
            const int stdinIndex = m_stdinOpen ? static_cast<int>(n) : -1;
            if (m_stdinOpen) {
                fds[n++] = {STDIN_FILENO, POLLIN, 0};
            }
            // One reading of the clock decides both whether we wait for the
            // terminal to take bytes and whether we wait for the pacing
            // timer, so output can never be left with neither.
            const auto now = Clock::now();
            const bool paceWait = OutPending() && !CanWriteAt(now);
            const int masterIndex = m_pty.IsOpen() ? static_cast<int>(n) : -1;
            if (m_pty.IsOpen()) {
                short ev = POLLIN;
                if (OutPending() && !paceWait) {
                    ev |= POLLOUT;
                }
                fds[n++] = {m_pty.Master(), ev, 0};
            }
            const int r = ::poll(fds, n, PollTimeout(now, paceWait));
            if (r < 0 && errno != EINTR) {
                std::perror("vxsim: poll");
                return;
            }
            if (g_signalled) {
                break;
            }
            if (r > 0 && stdinIndex >= 0 &&
                (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
                ReadControl();
            }
            if (r > 0 && masterIndex >= 0 && m_pty.IsOpen() &&
                (fds[masterIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
                ReadLine();
            }
            RunTimers();
            WriteOut();
        }
        m_log.Note("stop");
    }

    void Shutdown()
    {
        m_pty.Close();
        RemoveLink();
    }

private:
    struct PendingReply
    {
        Clock::time_point at;
        Bytes junk;
        Bytes frame;
        std::string summary;
        bool restart = false;
    };
    struct Queued
    {
        unsigned long number;
        Frame frame;
        Clock::time_point received;
    };

    bool PaceInput() const { return m_opt.paceInput && m_opt.baud > 0; }

    static std::string HexOf(unsigned v)
    {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
        return buf;
    }

    // ---- line ------------------------------------------------------------

    void ReadLine()
    {
        std::uint8_t buf[65536];
        const ssize_t got = ::read(m_pty.Master(), buf, sizeof buf);
        if (got < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                // Cannot happen while we hold the slave open; back off rather
                // than spin if it does.
                m_log.Note(std::string("read error: ") + std::strerror(errno));
                ::usleep(10000);
            }
            return;
        }
        const auto arrived = Clock::now();
        for (ssize_t i = 0; i < got && m_pty.IsOpen(); ++i) {
            if (PaceInput()) {
                // A byte is in once the line had time for it after the one before.
                m_inPaceDone = std::max(m_inPaceDone, arrived) + ByteTime();
            }
            if (m_parser.Feed(buf[i])) {
                LogStray();
                OnFrame(m_parser.TakeFrame());
            }
        }
        LogStray();
    }

    void LogStray()
    {
        const Bytes dropped = m_parser.TakeDropped();
        if (!dropped.empty()) {
            m_log.Note("partial frame dropped: " + Hex(dropped, 64));
        }
        const Bytes stray = m_parser.TakeStray();
        if (!stray.empty()) {
            m_log.Note("stray bytes: " + Hex(stray, 64));
        }
    }

    void OnFrame(Frame frame)
    {
        const unsigned long number = ++m_frameCount;
        m_log.Frame('>', frame.raw, frame.checkOk ? m_device.Describe(frame) : "BADCHECK");
        if (!frame.checkOk) {
            return;
        }
        if (Clock::now() < m_silentUntil) {
            m_log.Note("no answer: restarting");
            return;
        }
        if (m_pending) {
            // Busy with a late answer: requests wait their turn, as on a
            // device that handles one at a time.
            if (m_queue.size() >= 1024) {
                m_log.Note("no answer: too many requests waiting");
                return;
            }
            m_queue.push_back({number, std::move(frame), m_inPaceDone});
            return;
        }
        Execute(number, frame, m_inPaceDone);
    }

    void Execute(unsigned long number, const Frame &frame, Clock::time_point received)
    {
        if (m_silent) {
            m_log.Note("no answer: silent on");
            return;
        }
        const std::optional<Fault> fault = m_faults.Match(number, frame);
        if (fault) {
            m_log.Note("fault " + fault->text + " on frame " + std::to_string(number));
            if (fault->kind == FaultKind::Silent) {
                return;
            }
            if (fault->kind == FaultKind::Vanish) {
                Vanish(fault->ms);
                return;
            }
            if (fault->kind == FaultKind::Refuse) {
                Emit({Clock::now(), {}, EncodeFrame(kReplyRefused, {}), "0xE0 refused", false});
                return;
            }
        }
        const Outcome out = m_device.Handle(frame);
        if (!out.note.empty()) {
            m_log.Note((out.refused ? "refused: " : "note: ") + out.note);
        }
        const bool bad = fault && fault->kind == FaultKind::BadCheck;
        PendingReply reply;
        if (out.refused) {
            reply.frame = EncodeFrame(kReplyRefused, {}, bad ? 0xFF : 0);
            reply.summary = "0xE0 refused";
        } else {
            reply.frame = EncodeFrame(kReplyOk, out.payload, bad ? 0xFF : 0);
            reply.summary = "0xF0 ok len=" + std::to_string(out.payload.size());
        }
        if (bad) {
            reply.summary += " badcheck";
        }
        if (fault && fault->kind == FaultKind::Garbage) {
            reply.junk = GarbageBytes();
        }
        reply.restart = out.restart;
        const int delay =
            out.replyDelayMs + (fault && fault->kind == FaultKind::Delay ? fault->ms : 0);
        reply.at = Clock::now() + Ms(delay);
        // The answer cannot leave before the request has finished arriving.
        const bool early = PaceInput() && received > reply.at;
        if (early) {
            reply.at = received;
        }
        if (delay > 0 || early) {
            m_pending = std::move(reply);
        } else {
            Emit(reply);
        }
    }

    void Emit(const PendingReply &reply)
    {
        if (!reply.junk.empty()) {
            m_log.Frame('<', reply.junk, "garbage");
            QueueOut(reply.junk);
        }
        m_log.Frame('<', reply.frame, reply.summary);
        QueueOut(reply.frame);
        if (reply.restart) {
            m_device.Restart();
            m_silentUntil = Clock::now() + Ms(m_opt.restartMs);
            m_restarting = true;
            m_log.Note("restarting, silent for " + std::to_string(m_opt.restartMs) + " ms");
        }
    }

    void RunQueue()
    {
        while (!m_pending && !m_queue.empty() && m_pty.IsOpen()) {
            Queued q = std::move(m_queue.front());
            m_queue.pop_front();
            if (Clock::now() < m_silentUntil) {
                m_log.Note("no answer: restarting");
                continue;
            }
            Execute(q.number, q.frame, q.received);
        }
    }

    // ---- output ----------------------------------------------------------

    bool OutPending() const { return m_outPos < m_out.size(); }

    void QueueOut(const Bytes &bytes)
    {
        if (!m_pty.IsOpen()) {
            return;
        }
        // A client that never reads cannot make us grow without bound.
        if (m_out.size() - m_outPos + bytes.size() > (8u << 20)) {
            m_log.Note("output dropped: the host is not reading");
            return;
        }
        if (!OutPending()) {
            m_out.clear();
            m_outPos = 0;
            m_paceNext = Clock::now();
        }
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }

    Clock::duration ByteTime() const
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
            static_cast<long long>(10) * 1000000000LL / std::max(1L, m_opt.baud)));
    }

    bool CanWriteAt(Clock::time_point now) const { return m_opt.baud <= 0 || now >= m_paceNext; }

    void WriteOut()
    {
        const auto now = Clock::now();
        if (!m_pty.IsOpen() || !OutPending() || !CanWriteAt(now)) {
            return;
        }
        std::size_t allowed = m_out.size() - m_outPos;
        if (m_opt.baud > 0) {
            const auto bt = ByteTime();
            const auto due = static_cast<std::size_t>((now - m_paceNext) / bt) + 1;
            allowed = std::min(allowed, due);
        }
        const ssize_t w = ::write(m_pty.Master(), m_out.data() + m_outPos, allowed);
        if (w > 0) {
            m_outPos += static_cast<std::size_t>(w);
            if (m_opt.baud > 0) {
                m_paceNext += ByteTime() * w;
            }
        }
        if (!OutPending()) {
            m_out.clear();
            m_outPos = 0;
        }
    }

    // ---- timers ----------------------------------------------------------

    int PollTimeout(Clock::time_point now, bool paceWait) const
    {
        std::optional<Clock::time_point> next;
        auto consider = [&](Clock::time_point t) {
            if (!next || t < *next) {
                next = t;
            }
        };
        if (m_pending) {
            consider(m_pending->at);
        }
        if (m_returnAt) {
            consider(*m_returnAt);
        }
        if (m_restarting) {
            consider(m_silentUntil);
        }
        if (paceWait) {
            consider(m_paceNext);
        }
        if (!next) {
            return -1;
        }
        const auto left = std::chrono::ceil<Ms>(*next - now).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 60000));
    }

    void RunTimers()
    {
        const auto now = Clock::now();
        if (m_restarting && now >= m_silentUntil) {
            m_restarting = false;
            m_log.Note("restarted, software version " + std::to_string(m_device.SoftwareVersion()));
        }
        if (m_pending && now >= m_pending->at) {
            const PendingReply reply = std::move(*m_pending);
            m_pending.reset();
            Emit(reply);
            RunQueue();
        }
        if (m_returnAt && now >= *m_returnAt) {
            m_returnAt.reset();
            std::string error;
            if (!m_pty.Open(error)) {
                m_log.Note("cannot come back: " + error);
                std::fprintf(stderr, "vxsim: %s\n", error.c_str());
                m_returnAt = now + Ms(1000);
                return;
            }
            m_log.Note("return " + m_pty.Path());
            if (!UpdateLink(error)) {
                m_log.Note(error);
                std::fprintf(stderr, "vxsim: %s\n", error.c_str());
            }
            Announce();
        }
    }

    // ---- vanish, link, stdout ---------------------------------------------

    void Vanish(int ms)
    {
        m_log.Note("vanish for " + std::to_string(ms) + " ms");
        m_pty.Close();
        RemoveLink();
        m_parser.Reset();
        m_out.clear();
        m_outPos = 0;
        m_pending.reset();
        m_queue.clear();
        m_returnAt = Clock::now() + Ms(ms);
    }

    void Announce()
    {
        std::printf("%s\n", m_pty.Path().c_str());
        std::fflush(stdout);
    }

    bool UpdateLink(std::string &error)
    {
        if (m_opt.link.empty()) {
            return true;
        }
        // Build the new link beside the old one and rename it over: a client
        // never sees the path missing or half made.
        const std::string tmp = m_opt.link + ".vxsim-" + std::to_string(::getpid());
        ::unlink(tmp.c_str());
        if (::symlink(m_pty.Path().c_str(), tmp.c_str()) != 0 ||
            ::rename(tmp.c_str(), m_opt.link.c_str()) != 0) {
            error = "cannot link " + m_opt.link + ": " + std::strerror(errno);
            ::unlink(tmp.c_str());
            return false;
        }
        return true;
    }

    void RemoveLink()
    {
        if (!m_opt.link.empty()) {
            ::unlink(m_opt.link.c_str());
        }
    }

    // ---- control on standard input ------------------------------------------

    void ReadControl()
    {
        char buf[4096];
        const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            m_stdinOpen = false; // keep serving; only a signal ends us
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buf[i] == '\n') {
                if (!m_controlOverflow) {
                    Control(m_control);
                }
                m_control.clear();
                m_controlOverflow = false;
            } else if (m_control.size() < 4096) {
                m_control.push_back(buf[i]);
            } else {
                m_controlOverflow = true;
            }
        }
    }

    void Control(std::string line)
    {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
            line.pop_back();
        }
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            return;
        }
        line = line.substr(first);
        const std::size_t sp = line.find(' ');
        const std::string verb = line.substr(0, sp);
        const std::string arg =
            sp == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', sp));
        unsigned long n = 0;
        std::string error;
        if (verb == "status" && ParseNumber(arg, 0xFF, n)) {
            m_device.SetStatus(static_cast<std::uint8_t>(n));
        } else if (verb == "vanish" && ParseNumber(arg, 3600000, n)) {
            m_log.Note("control: " + line);
            Vanish(static_cast<int>(n));
            return;
        } else if (verb == "silent" && (arg == "on" || arg == "off")) {
            m_silent = arg == "on";
        } else if (verb == "clear" && arg.empty()) {
            m_faults.Clear();
            m_silent = false;
        } else if (verb.find('@') != std::string::npos) {
            Fault f;
            if (!ParseFault(line, f, error)) {
                ControlError(error);
                return;
            }
            m_faults.Add(f);
        } else {
            ControlError("not understood: " + line);
            return;
        }
        m_log.Note("control: " + line);
    }

    void ControlError(const std::string &error)
    {
        m_log.Note("control error: " + error);
        std::fprintf(stderr, "vxsim: %s\n", error.c_str());
    }

    Options m_opt;
    bool m_linkFailed = false;
    Device m_device;
    Transcript m_log;
    Pty m_pty;
    FrameParser m_parser;
    FaultSet m_faults;
    unsigned long m_frameCount = 0;
    bool m_silent = false;
    bool m_stdinOpen = true;
    std::string m_control;
    bool m_controlOverflow = false;

    Clock::time_point m_silentUntil{};
    bool m_restarting = false;
    std::optional<PendingReply> m_pending;
    std::deque<Queued> m_queue;
    std::optional<Clock::time_point> m_returnAt;

    Bytes m_out;
    std::size_t m_outPos = 0;
    Clock::time_point m_paceNext{};
    Clock::time_point m_inPaceDone{};
};

} // namespace

int main(int argc, char **argv)
{
    const auto start = Clock::now();
    const pid_t parent = ::getppid();
    // Started with a standard descriptor closed, the terminal or the signal
    // pipe would take its number and be mistaken for it.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDWR) != fd) {
            return 1;
        }
    }
    Options opt;
    const int parsed = ParseOptions(argc, argv, opt);
    if (parsed != 0) {
        return parsed == 1 ? 0 : 2;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vxsim: pipe");
        return 1;
    }
    struct sigaction sa
    {
    };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a shell, reading the control input must
    // not stop us; the read fails instead and the control input is dropped.
    std::signal(SIGTTIN, SIG_IGN);
#ifdef __linux__
    if (opt.exitWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            return 0; // the parent was already gone
        }
    }
#else
    (void)parent;
#endif

    std::string tempState;
    if (!opt.stateGiven) {
        char dir[] = "/tmp/vxsim-XXXXXX";
        if (!::mkdtemp(dir)) {
            std::perror("vxsim: mkdtemp");
            return 1;
        }
        tempState = dir;
        opt.device.stateDir = tempState;
    }

    int rc = 0;
    {
        Simulator sim(std::move(opt), start);
        std::string error;
        if (!sim.Start(error)) {
            std::fprintf(stderr, "vxsim: %s\n", error.c_str());
            rc = sim.LinkFailed() ? 2 : 1;
        } else {
            sim.Run();
        }
        sim.Shutdown();
    }
    if (!tempState.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(tempState, ec);
    }
    return rc;
}
