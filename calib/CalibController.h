#pragma once

#include "calib/IqCalibration.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTreeWidget>
#include <functional>

class CXmit;
class QWidget;

// What the calibration and configuration-file tools need from the form.
struct CalibHooks
{
    // The form read into a record of the connected family (its bytes).
    std::function<QByteArray()> buildRecord;
    // Fills the form from a record buffer (always kConfigRecordCapacity bytes,
    // zeros after the file's end).
    std::function<void(const QByteArray &record)> loadFromBytes;
    // Countdown 1 and the default request: the next tick writes the form to
    // the device and makes it the default.
    std::function<void()> armWriteAndDefault;
    // Puts the frequency (kHz) into the form and arms the countdown (3).
    std::function<void(int frequencyKhz)> retune;
};

// The handlers behind the I/Q list and the four file buttons of the lower
// strip. The form keeps the table and the list; this keeps neither, only
// what it was handed.
class CalibController : public QObject
{
    Q_OBJECT

public:
    CalibController(CXmit &xmit, IqCalibrationTable &table, QTreeWidget *list,
                    QWidget *dialogParent, CalibHooks hooks, QObject *parent = nullptr);

    // Device sequences; the list is refilled whenever the table was read.
    // The write is false when the device is not asked about its table at all.
    void ReadIqTableFromDevice();
    bool WriteIqTableToDevice();
    void FillIqList();

    // A double-click on the list: a frequency retunes, a correction opens an
    // in-place editor.
    void OnIqListDblClk(int row, int column);
    // The editor's report: text is null when the edit was cancelled.
    void OnIqListEndLabelEdit(int row, int column, const QString *text);

    // "-> TO FILE" (save) and "<- FROM FILE".
    void TransferIqFile(bool save);
    // "SAVE" (save) and "LOAD".
    void TransferConfigFile(bool save);

    static constexpr int kStatusMs = 2000;
    static constexpr int kFileBeepHz = 440;
    static constexpr int kFileBeepMs = 250;

private:
    void FileError(const QString &text);

    CXmit &m_xmit;
    IqCalibrationTable &m_table;
    QPointer<QTreeWidget> m_list;
    QPointer<QWidget> m_dialogParent;
    CalibHooks m_hooks;
};
