#include "app/DesktopAlerts.h"

#include "app/UserAlerts.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QMessageBox>
#include <QPointer>
#include <QtMath>

namespace {

// A sine tone of the asked frequency and length through the default audio
// output. Where the machine has no audio output, or it refuses the format,
// the desktop's own beep stands in. The tone plays in the background: the
// call returns at once.
class DesktopBeeper final : public Beeper
{
public:
    void Beep(int frequencyHz, int durationMs) override
    {
        if (frequencyHz <= 0 || durationMs <= 0)
            return;
        Stop();
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        QAudioFormat format;
        format.setSampleRate(kSampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        if (device.isNull() || !device.isFormatSupported(format)) {
            QApplication::beep();
            return;
        }

        m_buffer = new QBuffer;
        m_buffer->setData(Tone(frequencyHz, durationMs));
        m_buffer->open(QIODevice::ReadOnly);
        m_sink = new QAudioSink(device, format);
        QObject::connect(m_sink, &QAudioSink::stateChanged, m_sink, [this](QAudio::State state) {
            // Idle: every sample has been played; Stopped: an error ended it.
            if (state == QAudio::IdleState || state == QAudio::StoppedState)
                Finish();
        });
        m_sink->start(m_buffer);
        if (m_sink && m_sink->error() != QAudio::NoError) {
            Stop();
            QApplication::beep();
        }
    }

    void Stop()
    {
        if (m_sink) {
            QAudioSink *sink = m_sink;
            m_sink = nullptr;
            sink->disconnect();
            sink->stop();
            delete sink;
        }
        delete m_buffer;
        m_buffer = nullptr;
    }

private:
    static constexpr int kSampleRate = 48000;
    static constexpr double kAmplitude = 0.3 * 32767;
    static constexpr int kFadeMs = 5; // soft edges, no clicks

    static QByteArray Tone(int frequencyHz, int durationMs)
    {
        const int samples = int(qint64(kSampleRate) * durationMs / 1000);
        const int fade = kSampleRate * kFadeMs / 1000;
        QByteArray data(samples * int(sizeof(qint16)), Qt::Uninitialized);
        auto *out = reinterpret_cast<qint16 *>(data.data());
        for (int i = 0; i < samples; ++i) {
            double gain = 1.0;
            if (i < fade)
                gain = double(i) / fade;
            else if (samples - i < fade)
                gain = double(samples - i) / fade;
            out[i] = qint16(kAmplitude * gain * qSin(2 * M_PI * frequencyHz * i / kSampleRate));
        }
        return data;
    }

    // Called from the sink's own signal: it is deleted later, not here.
    void Finish()
    {
        if (m_sink) {
            m_sink->disconnect();
            m_sink->deleteLater();
            m_sink = nullptr;
        }
        if (m_buffer) {
            m_buffer->deleteLater();
            m_buffer = nullptr;
        }
    }

    QAudioSink *m_sink = nullptr;
    QBuffer *m_buffer = nullptr;
};

class DesktopMessages final : public MessageSink
{
public:
    void Warning(const QString &caption, const QString &text) override
    {
        QMessageBox::warning(QApplication::activeWindow(), caption, text);
    }

    void Notice(const QString &caption, const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
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
    // A tone still playing goes before the application object does.
    g_desktopBeeper.Stop();
    SetBeeper(nullptr);
    SetMessageSink(nullptr);
}
