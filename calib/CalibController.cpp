#include "calib/CalibController.h"

#include "app/StatusSink.h"
#include "app/UserAlerts.h"
#include "calib/CInPlaceEdit.h"
#include "calib/CIqList.h"
#include "calib/CalibFiles.h"
#include "calib/FileDialogs.h"
#include "link/CXmit.h"

CalibController::CalibController(CXmit &xmit, IqCalibrationTable &table, QTreeWidget *list,
                                 QWidget *dialogParent, CalibHooks hooks, QObject *parent)
    : QObject(parent), m_xmit(xmit), m_table(table), m_list(list), m_dialogParent(dialogParent),
      m_hooks(std::move(hooks))
{
    if (auto *iqList = qobject_cast<CIqList *>(list))
        connect(iqList, &CIqList::cellDoubleClicked, this, &CalibController::OnIqListDblClk);
    else if (list)
        connect(list, &QTreeWidget::itemDoubleClicked, this,
                [this](QTreeWidgetItem *item, int column) {
                    OnIqListDblClk(m_list->indexOfTopLevelItem(item), column);
                });
}

void CalibController::ReadIqTableFromDevice()
{
    if (::ReadIqTableFromDevice(m_xmit, m_table))
        FillIqList();
}

bool CalibController::WriteIqTableToDevice()
{
    return ::WriteIqTableToDevice(m_xmit, m_table);
}

void CalibController::FillIqList()
{
    if (m_list)
        ::FillIqList(m_list, m_table);
}

void CalibController::OnIqListDblClk(int row, int column)
{
    if (row < 0 || row >= m_table.rowCount || !m_list)
        return;
    const IqCalibrationRow &values = m_table.rows[size_t(row)];
    if (column == CIqList::FrequencyColumn) {
        if (m_hooks.retune)
            m_hooks.retune(values.frequencyMHz * 1000);
        return;
    }
    if (column != CIqList::AmpColumn && column != CIqList::PhiColumn)
        return;
    const int value = column == CIqList::AmpColumn ? values.dAmp : values.dPhi;
    auto *editor = new CInPlaceEdit(row, column, QString::number(value));
    connect(editor, &CInPlaceEdit::endLabelEdit, this,
            [this](int r, int c, const QString &text, bool hasText) {
                OnIqListEndLabelEdit(r, c, hasText ? &text : nullptr);
            });
    if (!editor->Create(m_list, CIqList::CellRect(m_list, row, column)))
        delete editor;
}

void CalibController::OnIqListEndLabelEdit(int row, int column, const QString *text)
{
    if (text && row >= 0 && row < m_table.rowCount) {
        IqCalibrationRow &values = m_table.rows[size_t(row)];
        if (column == CIqList::AmpColumn)
            values.dAmp = ParseLeadingInt(*text);
        else if (column == CIqList::PhiColumn)
            values.dPhi = ParseLeadingInt(*text);
    }
    FillIqList();
    WriteIqTableToDevice();
}

void CalibController::FileError(const QString &text)
{
    PlayBeep(kFileBeepHz, kFileBeepMs);
    Status().ShowStatus(text, kStatusMs, false);
}

void CalibController::TransferIqFile(bool save)
{
    const QString title =
        save ? QStringLiteral("Save IQ Calibration") : QStringLiteral("Load IQ Calibration");
    const QString chosen =
        save ? Dialogs().SaveFileName(m_dialogParent, title, ConfigFolder(), kIqFileFilter)
             : Dialogs().OpenFileName(m_dialogParent, title, ConfigFolder(), kIqFileFilter);
    if (chosen.isEmpty())
        return;
    const QString path = IqFilePath(chosen);

    if (save) {
        // The table in memory is what goes to the file; the device is not asked.
        SafeFileWriter writer(path);
        if (!writer.Open() || !writer.Commit(EncodeIqFile(m_table))) {
            FileError(QStringLiteral("IQ Calibration write Error"));
            return;
        }
        Status().ShowStatus(QStringLiteral("Saved from module"), kStatusMs, false);
        return;
    }

    if (ReadIqFile(path, m_table) != IqFileRead::Ok) {
        FileError(QStringLiteral("IQ Calibration read error"));
        return;
    }
    FillIqList();
    // A device that keeps no table (hardware before 3) is not written: saying
    // it was would leave the technician with an uncalibrated module.
    const bool sent = WriteIqTableToDevice();
    Status().ShowStatus(sent ? QStringLiteral("Loaded to module")
                             : QStringLiteral("Loaded, not sent to module"),
                        kStatusMs, false);
}

void CalibController::TransferConfigFile(bool save)
{
    const quint8 type = m_xmit.m_deviceType;
    const QString title =
        save ? QStringLiteral("Save Configuration") : QStringLiteral("Load Configuration");
    const QString filter = ConfigFileFilter(type);
    const QString chosen =
        save ? Dialogs().SaveFileName(m_dialogParent, title, ConfigFolder(), filter)
             : Dialogs().OpenFileName(m_dialogParent, title, ConfigFolder(), filter);
    if (chosen.isEmpty())
        return;
    const QString path = ConfigFilePath(chosen, type);

    if (save) {
        // The file must be creatable before the form is read into a record.
        SafeFileWriter writer(path);
        if (!writer.Open()) {
            FileError(QStringLiteral("Config. write Error"));
            return;
        }
        const QByteArray record = m_hooks.buildRecord ? m_hooks.buildRecord() : QByteArray();
        if (!writer.Commit(record)) {
            FileError(QStringLiteral("Config. write Error"));
            return;
        }
        Status().ShowStatus(QStringLiteral("Saved"), kStatusMs, false);
        return;
    }

    const ConfigFileRead read = ReadConfigFile(path, type);
    switch (read.status) {
    case ConfigFileRead::Status::Ok:
        break;
    case ConfigFileRead::Status::NoCompactMagic:
        // The loader says why it refuses; nothing is written or made default.
        if (m_hooks.loadFromBytes)
            m_hooks.loadFromBytes(read.record);
        return;
    default:
        FileError(QStringLiteral("Config. read error"));
        return;
    }
    if (m_hooks.loadFromBytes)
        m_hooks.loadFromBytes(read.record);
    if (m_hooks.armWriteAndDefault)
        m_hooks.armWriteAndDefault();
    Status().ShowStatus(QStringLiteral("Loaded"), kStatusMs, false);
}
