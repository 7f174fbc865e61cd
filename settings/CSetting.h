#pragma once

#include "calib/IqCalibration.h"
#include "settings/DeviceConfig.h"

#include <QSize>
#include <QString>
#include <QWidget>
#include <QtGlobal>

class CalibController;
class QComboBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QTreeWidget;

// The settings form: shows the device's configuration, turns edits into one
// write of the whole record after the user pauses, and reads the record back
// so that it always shows what the device took. It fills the upper part of
// the main window while a device is connected; its lower strip holds the
// manufacturer's tools and is shown only in manufacturer mode.
class CSetting : public QWidget
{
    Q_OBJECT

public:
    // Size of the whole form and of its upper part, in dialog units.
    static constexpr QSize kFormDlu{350, 392};
    static constexpr QSize kUpperFrameDlu{349, 252};
    static constexpr int kFirstTickMs = 100;
    static constexpr int kTickMs = 200;

    // Countdown values, in ticks of the form timer.
    static constexpr quint8 kEditCountdown = 3;
    static constexpr quint8 kSliderMoveCountdown = 10;

    // Maximum lengths of the text fields.
    static constexpr int kMaxNameChars = 32;
    static constexpr int kMaxReferenceChars = 53;
    static constexpr int kMaxEventNameChars = 40;
    static constexpr int kMaxEventTextChars = 100;

    // Logo files go to the device in blocks of at most this many bytes.
    static constexpr int kUploadBlockSize = 400;

    // What the controls show, and what was read from them last. Lists hold
    // the selected index (-1: nothing selected), track bars their position.
    // Video and audio coding and the event texts live in the record itself.
    struct FormValues
    {
        int audioBitrate = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        int defaultCountry = 0;
        int videoStandard = 0;
        int pictureFormat = 0;
        int transmissionMode = 0;
        int lcnFlavour = 0;
        int constellation = 0;
        int bandwidth = 0;
        int codeRate = 0;
        int guardInterval = 0;
        int levelPosition = 0; // 29 - attenuation in dB
        int frequencyKhz = 0;
        int transportStreamId = 0;
        int networkVersion = 0;
        int originalNetworkId = 0;
        int networkId = 0;
        QString networkName;
        int serviceId = 0;
        QString serviceName;
        int logicalChannelNumber = 0;
        int pmtPid = 0;
        int videoPid = 0;
        int videoBitrateKbps = 0;
        int audioPid = 0;
        QString reference;
    };

    explicit CSetting(QWidget *parent = nullptr);
    ~CSetting() override;

    // The whole form; the main window cuts it to the upper frame outside
    // manufacturer mode.
    QSize sizeHint() const override;

    // Set-up after a device was identified: adapts the lists to the device,
    // shows the form, starts the form timer (first tick after 100 ms, then
    // every 200 ms) and loads the configuration from the device.
    void PrepareForDevice();
    // Stops the form timer; edits not yet written are dropped with it.
    void StopFormTimer();
    bool IsFormTimerActive() const;

    // The exchange between the values and the controls. ReadControls reads
    // and checks in a fixed order and stops at the first failed check with a
    // warning; it returns whether it got through.
    bool ReadControls();
    void ShowValues();

    void UpdateDeliveryControls();
    void RefreshLevelTexts();

    // Reads the configuration from the device and shows it. A failed or
    // refused read leaves the record and the form as they were.
    void LoadFromDevice();
    // Decodes a record in the layout of the connected device and shows it.
    // A compact record with a wrong magic is rejected with a beep and
    // "Configuration Error"; the record and the form stay as they were.
    void LoadFromBytes(const RecordBuffer &buffer);
    // Reads the form into the held record and writes it into buffer (cleared
    // by the caller) in the connected device's layout. Returns its length.
    quint16 BuildRecord(RecordBuffer &buffer);
    // Writes the form to the device and reads it back, or (makeDefault)
    // makes the configuration the device's default.
    void ApplyToDevice(bool makeDefault);
    // Copies a file to a 0x82 device, by device path, in 400-byte blocks.
    bool UploadFile(const QString &localPath, const QString &devicePath);

    // One tick of the form timer: counts down pending edits, writes when the
    // countdown runs out, polls the device while nothing is pending.
    void OnFormTimer();

    // The held record: the one last loaded from the device or a file, with
    // the form merged in on every write.
    DeviceConfig m_record;
    // Ticks of the form timer until the form is written; 0 = nothing pending.
    quint8 m_changeCountdown = 0;
    // 1 = after the next write, make the configuration the device's default.
    quint8 m_defaultRequest = 0;
    FormValues m_values;
    // The device's I/Q calibration table, as last read, edited or loaded.
    IqCalibrationTable m_iqTable;

    // The I/Q calibration list of the lower strip.
    QTreeWidget *IqList() const { return m_iqList; }

protected:
    // Enter and Escape typed in the form are swallowed here: passed on, they
    // would reach the main window and close the program.
    void keyPressEvent(QKeyEvent *event) override;
    // Letting go of the mouse on a track bar arms the write like any edit,
    // whether the handle was dragged or the groove clicked.
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // Configuration files and the I/Q calibration table.
    void OnConfigLoad();
    void OnConfigSave();
    void OnIqFromFile();
    void OnIqToFile();

private:
    void BuildControls();
    QWidget *BuildVideoGroup();
    QWidget *BuildAudioGroup();
    QWidget *BuildModulationGroup();
    QWidget *BuildNetworkGroup();
    QWidget *BuildServiceGroup();
    QWidget *BuildEventGroup();
    QWidget *BuildLowerStrip();
    void ApplyTexts();
    void FillLogoList();
    void PlaceParts();

    void OnCountryChosen();
    void OnSetAsDefault();
    void OnFirmwareReload();
    void OnSliderMoved();
    void ArmCountdown() { m_changeCountdown = kEditCountdown; }
    void FinishLoad();
    QString LogoPath() const;

    QLabel *NewLabel(QWidget *parent, const char *name, int textRow, const QString &caption = {});
    QComboBox *NewList(QWidget *parent, const char *name, const QStringList &items);
    QLineEdit *NewEdit(QWidget *parent, const char *name);
    QSlider *NewSlider(QWidget *parent, const char *name, int maximum, int tickInterval);

    // Parts of the form placed by hand: the main window cuts the form at the
    // upper frame, and a layout over the whole form would squeeze the upper
    // part instead of cutting the strip off.
    QWidget *m_upperPart = nullptr;
    QWidget *m_lowerStrip = nullptr;
    QFrame *m_upperFrame = nullptr;
    // One-shot: each tick re-arms it when its work is done, so a slow tick
    // never overlaps the next one.
    QTimer *m_formTimer = nullptr;

    // Video.
    QLabel *m_standardLabel = nullptr;
    QComboBox *m_standardList = nullptr;
    QLabel *m_pictureFormatLabel = nullptr;
    QComboBox *m_pictureFormatList = nullptr;
    QComboBox *m_videoCodingList = nullptr;
    QLineEdit *m_videoBitrateEdit = nullptr;
    QLabel *m_brightnessLabel = nullptr;
    QSlider *m_brightnessSlider = nullptr;
    QLabel *m_brightnessValue = nullptr;
    QLabel *m_contrastLabel = nullptr;
    QSlider *m_contrastSlider = nullptr;
    QLabel *m_contrastValue = nullptr;
    QLabel *m_saturationLabel = nullptr;
    QSlider *m_saturationSlider = nullptr;
    QLabel *m_saturationValue = nullptr;
    // Audio.
    QComboBox *m_audioCodingList = nullptr;
    QComboBox *m_audioBitrateList = nullptr;
    // Modulation.
    QComboBox *m_deliveryList = nullptr;
    QLineEdit *m_frequencyEdit = nullptr;
    QLineEdit *m_tsIdEdit = nullptr;
    QLabel *m_modeLabel = nullptr;
    QComboBox *m_modeList = nullptr;
    QLabel *m_constellationLabel = nullptr;
    QComboBox *m_constellationList = nullptr;
    QLabel *m_bandwidthLabel = nullptr;
    QComboBox *m_bandwidthList = nullptr;
    QLabel *m_codeRateLabel = nullptr;
    QComboBox *m_codeRateList = nullptr;
    QLabel *m_guardLabel = nullptr;
    QComboBox *m_guardList = nullptr;
    QLabel *m_symbolRateLabel = nullptr;
    QLineEdit *m_symbolRateEdit = nullptr;
    QLabel *m_cableConstellationLabel = nullptr;
    QComboBox *m_cableConstellationList = nullptr;
    QSlider *m_levelSlider = nullptr;
    QLabel *m_levelText = nullptr;
    // Network.
    QLineEdit *m_networkVersionEdit = nullptr;
    QLineEdit *m_originalNetworkIdEdit = nullptr;
    QLineEdit *m_networkIdEdit = nullptr;
    QLineEdit *m_networkNameEdit = nullptr;
    // Service.
    QLineEdit *m_serviceIdEdit = nullptr;
    QLineEdit *m_serviceNameEdit = nullptr;
    QLineEdit *m_lcnEdit = nullptr;
    QComboBox *m_lcnFlavourList = nullptr;
    QLineEdit *m_pmtPidEdit = nullptr;
    QLineEdit *m_videoPidEdit = nullptr;
    QLineEdit *m_audioPidEdit = nullptr;
    // Event information.
    QLineEdit *m_eventNameEdit = nullptr;
    QLineEdit *m_eventTextEdit = nullptr;
    // Lower strip.
    QLabel *m_referenceLabel = nullptr;
    QLineEdit *m_referenceEdit = nullptr;
    QComboBox *m_logoList = nullptr;
    QLabel *m_countryLabel = nullptr;
    QComboBox *m_countryList = nullptr;
    QPushButton *m_firmwareReloadButton = nullptr;
    QPushButton *m_setDefaultButton = nullptr;
    QPushButton *m_loadButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QTreeWidget *m_iqList = nullptr;
    CalibController *m_calib = nullptr;
    QPushButton *m_iqFromFileButton = nullptr;
    QPushButton *m_iqToFileButton = nullptr;

    // Labels whose text follows the language, with their text table rows.
    QList<QPair<QLabel *, int>> m_translatedLabels;
    // True while the program itself puts values into the controls, so that
    // track bar moves it makes are not taken for the user's.
    bool m_showingValues = false;
    // Text edits refuse typing beyond their maximum once values were shown.
    bool m_lengthLimitsSet = false;
    // A record was read from the device (or a file) since the last
    // connection; until then nothing is written to the device.
    bool m_haveRecord = false;
    // True while a load fills the form. A check message shown meanwhile runs
    // its own event loop, in which the form timer must not write the half
    // loaded form to the device.
    bool m_loading = false;
    // Set when the main window stopped the timer: a tick that was under way
    // then does not start it again.
    bool m_timerStopped = false;
};
