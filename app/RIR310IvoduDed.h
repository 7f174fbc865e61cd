#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

class CInfo;
class CSetting;
class QKeyEvent;
class QShowEvent;
class QTimer;

// The main window and its connection supervisor. It holds the settings form
// on top and the status panel below. Timer 1 looks for the device until one
// answers; timer 2 then watches the link and, when the link fails or a
// firmware reload is asked for, drops the connection and starts searching
// again. Both timers are one-shot: each handler arms the next run only when
// its work is done, so attempts never overlap each other or the watch.
class RIR310IvoduDed : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kVersionMajor = 2;
    static constexpr int kVersionMinor = 3;
    static constexpr int kFirstAttemptMs = 100; // after the window is shown
    static constexpr int kRetryMs = 1000;       // after a failed attempt
    static constexpr int kAfterLossMs = 100;    // after the link was dropped
    static constexpr int kFirstWatchMs = 1000;  // after connecting
    static constexpr int kWatchMs = 100;        // while the link is good
    static constexpr int kRebootHoldMs = 8000;  // a restarting device is left alone
    static constexpr int kRefusalNoticeMs = 1000;
    // Height the window adds below the two panels.
    static constexpr int kExtraHeight = 20;

    explicit RIR310IvoduDed(QWidget *parent = nullptr);
    ~RIR310IvoduDed() override;

    // One connection attempt: 1 when a device is connected and the form is
    // loaded, else 0.
    int TryConnect();
    // Titles and places the panels: with form, the connected layout (form on
    // top, cut to its upper frame outside manufacturer mode); with nullptr,
    // the status panel alone. Left, top and width of the window are kept.
    void UpdateLayout(CSetting *form);
    // The firmware check that runs after every discovery: 1 when the device
    // was told to restart (the port is then closed), else 0.
    int CheckFirmwareAfterConnect();

    CSetting *Form() const { return m_form; }
    CInfo *Info() const { return m_info; }
    static QString BaseTitle();

signals:
    void deviceConnected();
    void connectionDropped();

protected:
    void showEvent(QShowEvent *event) override;
    // Enter closes the window like Escape and the close box do (a QDialog
    // without a default button would ignore it).
    void keyPressEvent(QKeyEvent *event) override;

public slots:
    void done(int result) override;

private:
    void OnConnectTimer();
    void OnLinkWatchTimer();
    void ReportRefusedPorts();
    void PlaceOnScreen();

    QIcon m_hIcon;
    CSetting *m_form = nullptr;
    CInfo *m_info = nullptr;
    QTimer *m_connectTimer = nullptr;   // timer 1
    QTimer *m_linkWatchTimer = nullptr; // timer 2
    bool m_started = false;
};
