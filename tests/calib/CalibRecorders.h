#pragma once

// Recorders for what the calibration tools tell the user, and file dialogs
// that answer from a queue.

#include "app/StatusSink.h"
#include "app/UserAlerts.h"
#include "calib/FileDialogs.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct StatusRecorder : StatusSink
{
    QStringList texts;
    QList<int> durations;
    void ShowStatus(const QString &text, int durationMs, bool wait) override
    {
        texts << text;
        durations << durationMs;
        waited = waited || wait;
    }
    void SetProgress(int, int) override {}
    bool waited = false;
};

struct BeepRecorder : Beeper
{
    QList<QPair<int, int>> beeps;
    void Beep(int frequencyHz, int durationMs) override { beeps.append({frequencyHz, durationMs}); }
};

struct ScriptedDialogs : FileDialogs
{
    QStringList answers; // one per dialog, taken from the front
    struct Shown
    {
        bool save;
        QString title, folder, filter;
    };
    QList<Shown> shown;

    QString SaveFileName(QWidget *, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        shown.append({true, title, folder, filter});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString OpenFileName(QWidget *, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        shown.append({false, title, folder, filter});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
