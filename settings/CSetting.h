#pragma once

#include <QSize>
#include <QWidget>

class QFrame;
class QKeyEvent;
class QTimer;

// The settings form that fills the upper part of the main window while a
// device is connected. For now it only keeps the shape the main window lays
// out (the whole form, and the invisible upper frame that marks what a
// technician sees) and the form timer's rhythm with its idle poll of the
// device; the controls come later.
class CSetting : public QWidget
{
    Q_OBJECT

public:
    // Size of the whole form and of its upper part, in dialog units.
    static constexpr QSize kFormDlu{350, 392};
    static constexpr QSize kUpperFrameDlu{349, 252};
    static constexpr int kFirstTickMs = 100;
    static constexpr int kTickMs = 200;

    explicit CSetting(QWidget *parent = nullptr);

    // The whole form; the main window cuts it to the upper frame outside
    // manufacturer mode.
    QSize sizeHint() const override;

    // Set-up after a device was identified: shows the form and starts the
    // form timer (first tick after 100 ms, then every 200 ms).
    void PrepareForDevice();
    // Stops the form timer; edits not yet written are dropped with it.
    void StopFormTimer();
    bool IsFormTimerActive() const;

protected:
    // Enter and Escape typed in the form are swallowed here: passed on, they
    // would reach the main window and close the program.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void OnFormTimer();

    QFrame *m_upperFrame = nullptr;
    // One-shot: each tick re-arms it when its work is done, so a slow tick
    // never overlaps the next one.
    QTimer *m_formTimer = nullptr;
};
