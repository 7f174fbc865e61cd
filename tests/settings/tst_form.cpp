// The settings form without a device: the order and messages of its checks,
// lists without a selection, the replacements made before writing, the
// labels in every language, and reaching the controls by their labels.
#include "app/AppState.h"
#include "app/TextTable.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"
#include "tests/settings/FormRecorders.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QtTest>

namespace {

// Valid text for every integer and text edit.
const QList<QPair<QString, QString>> kValidEntries{{"frequencyEdit", "474000"},
                                                   {"tsIdEdit", "1"},
                                                   {"networkVersionEdit", "3"},
                                                   {"originalNetworkIdEdit", "8442"},
                                                   {"networkIdEdit", "7"},
                                                   {"networkNameEdit", "NET"},
                                                   {"serviceIdEdit", "2"},
                                                   {"serviceNameEdit", "SVC"},
                                                   {"lcnEdit", "5"},
                                                   {"pmtPidEdit", "256"},
                                                   {"videoPidEdit", "257"},
                                                   {"videoBitrateEdit", "6000"},
                                                   {"audioPidEdit", "258"},
                                                   {"referenceEdit", "REF"},
                                                   {"eventNameEdit", "EV"},
                                                   {"eventTextEdit", "TXT"}};

constexpr int kUnread = -7;

QLineEdit *Edit(CSetting &form, const QString &name)
{
    return form.findChild<QLineEdit *>(name);
}

void SetEntries(CSetting &form, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        QLineEdit *edit = Edit(form, name);
        QVERIFY2(edit, qPrintable(name));
        edit->setText(entry.section(QLatin1Char('='), 1));
    }
}

// A record the form can show without a complaint.
DeviceConfig ValidRecord()
{
    DeviceConfig r;
    r.reference = "REF";
    r.deliverySystem = 1;
    r.frequencyKhz = 474000;
    r.bandwidth = 2;
    r.transmissionMode = 1;
    r.constellation = 2;
    r.codeRate = 1;
    r.guardInterval = 0;
    r.attenuationDb = 0;
    r.networkVersion = 1;
    r.networkId = 1;
    r.originalNetworkId = 8442;
    r.networkName = "NET";
    r.transportStreamId = 1;
    r.serviceId = 1;
    r.logicalChannelNumber = 1;
    r.serviceName = "SVC";
    r.pmtPid = 256;
    r.videoPid = 257;
    r.audioPid = 258;
    r.videoBitrateKbps = 6000;
    r.audioBitrate = 1;
    r.brightness = 128;
    r.contrast = 128;
    r.saturation = 128;
    r.logoName = "logo.dg1";
    return r;
}

RecordBuffer FullBytes(const DeviceConfig &record)
{
    RecordBuffer buffer{};
    WriteFullLayout(record, buffer);
    return buffer;
}

// Lists and record fields for the "nothing selected" rows.
struct ListField
{
    const char *list;
    int DeviceConfig::*field;
};
const ListField kListFields[] = {
    {"modeList", &DeviceConfig::transmissionMode},
    {"bandwidthList", &DeviceConfig::bandwidth},
    {"guardList", &DeviceConfig::guardInterval},
    {"audioBitrateList", &DeviceConfig::audioBitrate},
    {"pictureFormatList", &DeviceConfig::aspectRatio},
};

QAccessibleInterface *FindByName(QAccessibleInterface *root, const QString &name)
{
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface *child = root->child(i);
        if (!child)
            continue;
        if (child->text(QAccessible::Name) == name && child->role() != QAccessible::StaticText)
            return child;
        if (QAccessibleInterface *found = FindByName(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checksStopAtFirstFailure_data();
    void checksStopAtFirstFailure();
    void textEditsRefuseTypingBeyondMaximum_data();
    void textEditsRefuseTypingBeyondMaximum();
    void listWithoutSelectionReadsMinusOneAndWrites255_data();
    void listWithoutSelectionReadsMinusOneAndWrites255();
    void buildRecordReplacesOutOfRangeValues_data();
    void buildRecordReplacesOutOfRangeValues();
    void symbolRateReadAsUnsigned_data();
    void symbolRateReadAsUnsigned();
    void levelAndPictureTexts_data();
    void levelAndPictureTexts();
    void loadNeverLeavesWritePending();
    void wrongMagicIsRejected();
    void labelsFollowLanguage_data();
    void labelsFollowLanguage();
    void labelsFitInEveryLanguage_data();
    void labelsFitInEveryLanguage();
    void controlsFoundByTheirLabels_data();
    void controlsFoundByTheirLabels();
    void tabOrderFollowsGroups();
    void lowerStripOnlyForManufacturer_data();
    void lowerStripOnlyForManufacturer();
    void buttonsSetRequests();
    void logoListIsSorted();
    void trackBarMouseReleaseArmsEdit_data();
    void trackBarMouseReleaseArmsEdit();

private:
    QTemporaryDir m_dir;
};

void TestForm::init()
{
    g_manufacturerMode = 0;
    LanguageIndex = 0;
    g_forceUpgrade = 0;
    g_relaxDigestChecks = 0;
    g_xmit.ClosePort();
    g_xmit.m_deviceType = kDeviceType82;
    g_hardwareVersion = 1;
    g_workingFolder = m_dir.path();
}

void TestForm::cleanup()
{
    LanguageIndex = 0;
    g_manufacturerMode = 0;
    g_workingFolder.clear();
    g_xmit.m_deviceType = 0;
}

void TestForm::checksStopAtFirstFailure_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("audioPid");
    QTest::addColumn<QString>("reference");

    const QString range = QStringLiteral("Enter an integer between %1 and %2.");
    const QString length = QStringLiteral("Enter no more than %1 characters.");
    const QString integer = QStringLiteral("Enter an integer.");

    QTest::newRow("all valid") << QStringList{} << QStringList{} << 474000 << 258 << "REF";
    QTest::newRow("letters in the frequency")
        << QStringList{"frequencyEdit=abc"} << QStringList{integer} << kUnread << kUnread << "old";
    QTest::newRow("empty frequency")
        << QStringList{"frequencyEdit="} << QStringList{integer} << kUnread << kUnread << "old";
    QTest::newRow("blanks before, letters after")
        << QStringList{"frequencyEdit=  522000abc"} << QStringList{} << 522000 << 258 << "REF";
    QTest::newRow("12abc reads as 12")
        << QStringList{"frequencyEdit=12abc"} << QStringList{range.arg(47000).arg(862000)} << 12
        << 258 << "old";
    QTest::newRow("frequency one below")
        << QStringList{"frequencyEdit=46999"} << QStringList{range.arg(47000).arg(862000)} << 46999
        << 258 << "old";
    QTest::newRow("negative frequency")
        << QStringList{"frequencyEdit=-5"} << QStringList{range.arg(47000).arg(862000)} << -5 << 258
        << "old";
    QTest::newRow("no integer later wins over an earlier range failure")
        << QStringList{"frequencyEdit=1", "audioPidEdit=x"} << QStringList{integer} << 1 << kUnread
        << "old";
    QTest::newRow("TS id above 65535")
        << QStringList{"tsIdEdit=65536"} << QStringList{range.arg(0).arg(65535)} << 474000 << 258
        << "old";
    QTest::newRow("network version 32")
        << QStringList{"networkVersionEdit=32"} << QStringList{range.arg(0).arg(31)} << 474000
        << 258 << "old";
    QTest::newRow("first failure reported only")
        << QStringList{"tsIdEdit=70000", "pmtPidEdit=10"} << QStringList{range.arg(0).arg(65535)}
        << 474000 << 258 << "old";
    QTest::newRow("PMT PID 31") << QStringList{"pmtPidEdit=31"}
                                << QStringList{range.arg(32).arg(8190)} << 474000 << 258 << "old";
    QTest::newRow("video PID 10 passes")
        << QStringList{"videoPidEdit=10"} << QStringList{} << 474000 << 258 << "REF";
    QTest::newRow("video PID 8191")
        << QStringList{"videoPidEdit=8191"} << QStringList{range.arg(0).arg(8190)} << 474000 << 258
        << "old";
    QTest::newRow("video bit rate 12001")
        << QStringList{"videoBitrateEdit=12001"} << QStringList{range.arg(3000).arg(12000)}
        << 474000 << 258 << "old";
    QTest::newRow("audio PID 8191")
        << QStringList{"audioPidEdit=8191"} << QStringList{range.arg(32).arg(8190)} << 474000
        << 8191 << "old";
    QTest::newRow("network name of 33") << QStringList{"networkNameEdit=" + QString(33, 'n')}
                                        << QStringList{length.arg(32)} << 474000 << 258 << "old";
    QTest::newRow("service name of 33") << QStringList{"serviceNameEdit=" + QString(33, 's')}
                                        << QStringList{length.arg(32)} << 474000 << 258 << "old";
    QTest::newRow("range before length")
        << QStringList{"networkNameEdit=" + QString(33, 'n'), "lcnEdit=65536"}
        << QStringList{range.arg(0).arg(65535)} << 474000 << 258 << "old";
    QTest::newRow("reference of 54")
        << QStringList{"referenceEdit=" + QString(54, 'r')} << QStringList{length.arg(53)} << 474000
        << 258 << QString(54, 'r');
    QTest::newRow("event name of 41") << QStringList{"eventNameEdit=" + QString(41, 'e')}
                                      << QStringList{length.arg(40)} << 474000 << 258 << "REF";
    QTest::newRow("event text of 101") << QStringList{"eventTextEdit=" + QString(101, 't')}
                                       << QStringList{length.arg(100)} << 474000 << 258 << "REF";
}

void TestForm::checksStopAtFirstFailure()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, messages);
    QFETCH(int, frequency);
    QFETCH(int, audioPid);
    QFETCH(QString, reference);

    formtest::Recorders recorders;
    CSetting form;
    QStringList valid;
    for (const auto &[name, text] : kValidEntries)
        valid << name + '=' + text;
    SetEntries(form, valid);
    SetEntries(form, entries);
    form.m_values.frequencyKhz = kUnread;
    form.m_values.audioPid = kUnread;
    form.m_values.reference = QStringLiteral("old");

    const bool complete = form.ReadControls();
    QCOMPARE(recorders.warnings, messages);
    QCOMPARE(complete, messages.isEmpty());
    QCOMPARE(form.m_values.frequencyKhz, frequency);
    QCOMPARE(form.m_values.audioPid, audioPid);
    QCOMPARE(form.m_values.reference, reference);
}

void TestForm::textEditsRefuseTypingBeyondMaximum_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("maximum");

    QTest::newRow("network name") << "networkNameEdit" << 32;
    QTest::newRow("service name") << "serviceNameEdit" << 32;
    QTest::newRow("reference") << "referenceEdit" << 53;
    QTest::newRow("event name") << "eventNameEdit" << 40;
    QTest::newRow("event text") << "eventTextEdit" << 100;
}

void TestForm::textEditsRefuseTypingBeyondMaximum()
{
    QFETCH(QString, edit);
    QFETCH(int, maximum);

    formtest::Recorders recorders;
    CSetting form;
    form.ShowValues();
    QLineEdit *field = Edit(form, edit);
    QVERIFY(field);
    QTest::keyClicks(field, QString(maximum + 1, 'x'));
    QCOMPARE(field->text(), QString(maximum, 'x'));

    // What the device sends is shown whole, and reported when read.
    field->setText(QString(maximum + 2, 'y'));
    QCOMPARE(field->text().size(), maximum + 2);
}

void TestForm::listWithoutSelectionReadsMinusOneAndWrites255_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("deviceValue");

    QTest::newRow("transmission mode 5") << 0 << 5;
    QTest::newRow("bandwidth 3") << 1 << 3;
    QTest::newRow("guard interval 200") << 2 << 200;
    QTest::newRow("audio bit rate 5") << 3 << 5;
    QTest::newRow("picture format 2") << 4 << 2;
}

void TestForm::listWithoutSelectionReadsMinusOneAndWrites255()
{
    QFETCH(int, which);
    QFETCH(int, deviceValue);
    const ListField &lf = kListFields[which];

    formtest::Recorders recorders;
    CSetting form;
    form.PrepareForDevice(); // no port: the read fails and changes nothing
    form.StopFormTimer();
    DeviceConfig record = ValidRecord();
    record.*lf.field = deviceValue;
    form.LoadFromBytes(FullBytes(record));

    auto *list = form.findChild<QComboBox *>(QLatin1String(lf.list));
    QVERIFY(list);
    QCOMPARE(list->currentIndex(), -1);
    QVERIFY(form.ReadControls());

    RecordBuffer out{};
    const quint16 n = form.BuildRecord(out);
    QVERIFY(n >= kShortestFullRecord);
    DeviceConfig written;
    ParseFullLayout(out, written);
    QCOMPARE(written.*lf.field, 255);
    QVERIFY(recorders.warnings.isEmpty());
}

void TestForm::buildRecordReplacesOutOfRangeValues_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<QList<int>>("pids");
    QTest::addColumn<int>("bitrate");

    const QList<int> given{256, 257, 258};
    const QList<int> fallback{32, 48, 49};
    QTest::newRow("all kept") << QStringList{} << 474000 << given << 6000;
    QTest::newRow("frequency one below")
        << QStringList{"frequencyEdit=46999"} << 474000 << given << 6000;
    QTest::newRow("frequency one above")
        << QStringList{"frequencyEdit=862001"} << 474000 << given << 6000;
    QTest::newRow("negative frequency")
        << QStringList{"frequencyEdit=-5"} << 474000 << given << 6000;
    QTest::newRow("frequency at the limits kept")
        << QStringList{"frequencyEdit=862000"} << 862000 << given << 6000;
    QTest::newRow("video equals audio PID")
        << QStringList{"videoPidEdit=100", "audioPidEdit=100"} << 474000 << fallback << 6000;
    QTest::newRow("PMT PID 8191") << QStringList{"pmtPidEdit=8191"} << 474000 << fallback << 6000;
    QTest::newRow("video PID 10") << QStringList{"videoPidEdit=10"} << 474000 << fallback << 6000;
    QTest::newRow("PMT equals video PID")
        << QStringList{"pmtPidEdit=300", "videoPidEdit=300"} << 474000 << fallback << 6000;
    QTest::newRow("bit rate one above")
        << QStringList{"videoBitrateEdit=12001"} << 474000 << given << 3000;
    QTest::newRow("bit rate one below")
        << QStringList{"videoBitrateEdit=2999"} << 474000 << given << 3000;
}

void TestForm::buildRecordReplacesOutOfRangeValues()
{
    QFETCH(QStringList, entries);
    QFETCH(int, frequency);
    QFETCH(QList<int>, pids);
    QFETCH(int, bitrate);

    formtest::Recorders recorders;
    CSetting form;
    form.LoadFromBytes(FullBytes(ValidRecord()));
    SetEntries(form, entries);

    RecordBuffer out{};
    form.BuildRecord(out);
    DeviceConfig written;
    ParseFullLayout(out, written);
    QCOMPARE(written.frequencyKhz, frequency);
    QCOMPARE((QList<int>{written.pmtPid, written.videoPid, written.audioPid}), pids);
    QCOMPARE(written.videoBitrateKbps, bitrate);
    // The held record and the form values carry the replacements too.
    QCOMPARE(form.m_record.frequencyKhz, frequency);
    QCOMPARE(form.m_values.pmtPid, pids.at(0));
}

void TestForm::symbolRateReadAsUnsigned_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("written");

    QTest::newRow("6900") << "6900" << 6900;
    QTest::newRow("empty keeps the value") << "" << 5000;
    QTest::newRow("letters keep the value") << "abc" << 5000;
    QTest::newRow("minus one wraps") << "-1" << 65535;
    QTest::newRow("above 65535 cut") << "70000" << 70000 - 65536;
}

void TestForm::symbolRateReadAsUnsigned()
{
    QFETCH(QString, text);
    QFETCH(int, written);

    formtest::Recorders recorders;
    CSetting form;
    DeviceConfig record = ValidRecord();
    record.symbolRate = 5000;
    form.LoadFromBytes(FullBytes(record));
    Edit(form, "symbolRateEdit")->setText(text);

    RecordBuffer out{};
    form.BuildRecord(out);
    DeviceConfig parsed;
    ParseFullLayout(out, parsed);
    QCOMPARE(parsed.symbolRate, written);
}

void TestForm::levelAndPictureTexts_data()
{
    QTest::addColumn<int>("attenuation");
    QTest::addColumn<QString>("levelText");
    QTest::addColumn<int>("position");

    QTest::newRow("0 dB") << 0 << "0dB" << 29;
    QTest::newRow("5 dB") << 5 << "-5dB" << 24;
    QTest::newRow("29 dB") << 29 << "-29dB" << 0;
}

void TestForm::levelAndPictureTexts()
{
    QFETCH(int, attenuation);
    QFETCH(QString, levelText);
    QFETCH(int, position);

    formtest::Recorders recorders;
    CSetting form;
    QCOMPARE(form.findChild<QLabel *>("levelText")->text(), QStringLiteral("dB"));
    QCOMPARE(form.findChild<QLabel *>("brightnessValue")->text(), QStringLiteral("128"));

    DeviceConfig record = ValidRecord();
    record.attenuationDb = attenuation;
    record.brightness = 17;
    record.contrast = 0;
    record.saturation = 255;
    form.LoadFromBytes(FullBytes(record));
    QCOMPARE(form.findChild<QSlider *>("levelSlider")->value(), position);
    QCOMPARE(form.findChild<QLabel *>("levelText")->text(), levelText);
    QCOMPARE(form.findChild<QLabel *>("brightnessValue")->text(), QStringLiteral("17"));
    QCOMPARE(form.findChild<QLabel *>("contrastValue")->text(), QStringLiteral("0"));
    QCOMPARE(form.findChild<QLabel *>("saturationValue")->text(), QStringLiteral("255"));

    RecordBuffer out{};
    form.BuildRecord(out);
    DeviceConfig written;
    ParseFullLayout(out, written);
    QCOMPARE(written.attenuationDb, attenuation);
}

void TestForm::loadNeverLeavesWritePending()
{
    formtest::Recorders recorders;
    CSetting form;
    form.m_changeCountdown = 3;
    form.m_defaultRequest = 1;
    DeviceConfig record = ValidRecord();
    record.videoBitrateKbps = 2000; // outside the checks: reported while loading
    form.LoadFromBytes(FullBytes(record));
    QCOMPARE(form.m_changeCountdown, quint8(0));
    QCOMPARE(form.m_defaultRequest, quint8(1)); // not the loader's to clear
    QCOMPARE(recorders.warnings,
             QStringList{QStringLiteral("Enter an integer between 3000 and 12000.")});
    QCOMPARE(Edit(form, "videoBitrateEdit")->text(), QStringLiteral("2000"));
}

void TestForm::wrongMagicIsRejected()
{
    g_xmit.m_deviceType = kDeviceType78;
    formtest::Recorders recorders;
    CSetting form;
    DeviceConfig before = form.m_record;
    RecordBuffer bytes = FullBytes(ValidRecord()); // no compact magic
    form.m_changeCountdown = 3;
    form.LoadFromBytes(bytes);
    QCOMPARE(recorders.beeps, (QList<QPair<int, int>>{{880, 1000}}));
    QCOMPARE(recorders.statusTexts, QStringList{QStringLiteral("Configuration Error")});
    QCOMPARE(recorders.statusDurations, QList<int>{10000});
    QCOMPARE(form.m_record, before);
    QCOMPARE(form.m_changeCountdown, quint8(0));
}

void TestForm::labelsFollowLanguage_data()
{
    QTest::addColumn<int>("language");
    for (int language = 0; language < kLanguages; ++language)
        QTest::addRow("language %d", language) << language;
}

void TestForm::labelsFollowLanguage()
{
    QFETCH(int, language);
    LanguageIndex = language;
    const QList<QPair<QString, int>> labels{{"standardLabel", 9},
                                            {"pictureFormatLabel", 10},
                                            {"brightnessLabel", 11},
                                            {"contrastLabel", 12},
                                            {"saturationLabel", 13},
                                            {"frequencyLabel", 14},
                                            {"tsIdLabel", 15},
                                            {"modeLabel", 16},
                                            {"constellationLabel", 17},
                                            {"bandwidthLabel", 18},
                                            {"codeRateLabel", 19},
                                            {"guardLabel", 20},
                                            {"levelLabel", 21},
                                            {"networkGroupTitle", 22},
                                            {"originalNetworkIdLabel", 23},
                                            {"networkIdLabel", 24},
                                            {"networkNameLabel", 25},
                                            {"serviceGroupTitle", 26},
                                            {"serviceIdLabel", 24},
                                            {"serviceNameLabel", 25},
                                            {"lcnLabel", 27},
                                            {"pmtPidLabel", 28},
                                            {"videoPidLabel", 29},
                                            {"audioPidLabel", 30},
                                            {"cableConstellationLabel", 17}};
    CSetting form;
    for (const auto &[name, row] : labels) {
        auto *label = form.findChild<QLabel *>(name);
        QVERIFY2(label, qPrintable(name));
        QCOMPARE(label->text(), QString::fromUtf8(TextTable[row * kLanguages + language]));
    }
    // Fixed captions stay English.
    QCOMPARE(form.findChild<QLabel *>("symbolRateLabel")->text(), QStringLiteral("Symbol rate :"));
    QCOMPARE(form.findChild<QLabel *>("networkVersionLabel")->text(), QStringLiteral("Vers. :"));
    QCOMPARE(form.findChild<QLabel *>("eventNameLabel")->text(), QStringLiteral("Name : "));
    QCOMPARE(form.findChild<QPushButton *>("setDefaultButton")->text(),
             QStringLiteral("Set as Def. Param"));
}

void TestForm::labelsFitInEveryLanguage_data()
{
    labelsFollowLanguage_data();
}

void TestForm::labelsFitInEveryLanguage()
{
    QFETCH(int, language);
    LanguageIndex = language;
    g_manufacturerMode = 1;
    formtest::Recorders recorders;
    CSetting form;
    form.LoadFromBytes(FullBytes(ValidRecord()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const int upperHeight = form.findChild<QWidget *>("upperFrame")->height();
    const QRect formRect(QPoint(0, 0), form.sizeHint());
    int labels = 0;
    for (QWidget *w : form.findChildren<QWidget *>()) {
        if (!w->isVisible() || w->objectName().isEmpty())
            continue;
        labels += qobject_cast<QLabel *>(w) != nullptr;
        const QRect inForm(w->mapTo(&form, QPoint(0, 0)), w->size());
        QVERIFY2(formRect.contains(inForm),
                 qPrintable(w->objectName() + QStringLiteral(" leaves the form")));
        if (auto *label = qobject_cast<QLabel *>(w)) {
            QVERIFY2(
                label->width() >= label->sizeHint().width(),
                qPrintable(label->objectName() + QStringLiteral(" is clipped: ") + label->text()));
        }
        if (auto *list = qobject_cast<QComboBox *>(w)) {
            QVERIFY2(list->width() >= list->minimumSizeHint().width(),
                     qPrintable(list->objectName() + QStringLiteral(" is clipped")));
        }
        // The technician's part stays above the upper frame's edge.
        if (w->parentWidget() && w->parentWidget()->objectName().endsWith("Group"))
            QVERIFY2(inForm.bottom() < upperHeight,
                     qPrintable(w->objectName() + QStringLiteral(" below the upper frame")));
    }
    QVERIFY(labels >= 40);
}

void TestForm::controlsFoundByTheirLabels_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("control");

    QTest::newRow("standard") << 0 << "VIDEO"
                              << "Standard :"
                              << "standardList";
    QTest::newRow("video coding") << 0 << "VIDEO"
                                  << "Video coding"
                                  << "videoCodingList";
    QTest::newRow("video bit rate") << 0 << "VIDEO"
                                    << "Video bit rate (Kb/s)"
                                    << "videoBitrateEdit";
    QTest::newRow("light") << 0 << "VIDEO"
                           << "Light :"
                           << "brightnessSlider";
    QTest::newRow("audio bit rate") << 0 << "AUDIO"
                                    << "Audio bit rate"
                                    << "audioBitrateList";
    QTest::newRow("delivery") << 0 << "Modulation :"
                              << "Delivery system"
                              << "deliveryList";
    QTest::newRow("frequency") << 0 << "Modulation :"
                               << "Freq. (kHz) :"
                               << "frequencyEdit";
    QTest::newRow("level") << 0 << "Modulation :"
                           << "Level Att. :"
                           << "levelSlider";
    QTest::newRow("symbol rate") << 0 << "Modulation :"
                                 << "Symbol rate :"
                                 << "symbolRateEdit";
    QTest::newRow("network id") << 0 << "Network"
                                << "Id. :"
                                << "networkIdEdit";
    QTest::newRow("service id") << 0 << "Service"
                                << "Id. :"
                                << "serviceIdEdit";
    QTest::newRow("service name") << 0 << "Service"
                                  << "Name :"
                                  << "serviceNameEdit";
    QTest::newRow("LCN flavour") << 0 << "Service"
                                 << "LCN flavour"
                                 << "lcnFlavourList";
    QTest::newRow("event text") << 0 << "E.I.T."
                                << "Text :"
                                << "eventTextEdit";
    QTest::newRow("reference") << 0 << "Manufacturer tools"
                               << "Reference :"
                               << "referenceEdit";
    QTest::newRow("logos") << 0 << "Manufacturer tools"
                           << "Logos :"
                           << "logoList";
    QTest::newRow("country") << 0 << "Manufacturer tools"
                             << "Def. Country :"
                             << "countryList";
    QTest::newRow("reload") << 0 << "Manufacturer tools"
                            << "Firm. Reload"
                            << "firmwareReloadButton";
    QTest::newRow("I/Q list") << 0 << "Manufacturer tools"
                              << "I/Q calibration"
                              << "iqList";
    QTest::newRow("frequency in Polish") << 4 << "Modulation :"
                                         << "Czest. (khz):"
                                         << "frequencyEdit";
    QTest::newRow("network name in Polish") << 4 << QString::fromUtf8("Sieć") << "Nazwa :"
                                            << "networkNameEdit";
    QTest::newRow("service in German") << 3 << "Service"
                                       << "L.C.N. :"
                                       << "lcnEdit";
}

void TestForm::controlsFoundByTheirLabels()
{
    QFETCH(int, language);
    QFETCH(QString, group);
    QFETCH(QString, label);
    QFETCH(QString, control);

    LanguageIndex = language;
    g_manufacturerMode = 1;
    CSetting form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(&form);
    QVERIFY(root);
    QAccessibleInterface *groupInterface = FindByName(root, group);
    QVERIFY2(groupInterface, qPrintable(group));
    QAccessibleInterface *found = FindByName(groupInterface, label);
    QVERIFY2(found, qPrintable(label));
    QVERIFY(found->object());
    QCOMPARE(found->object()->objectName(), control);
}

void TestForm::tabOrderFollowsGroups()
{
    g_manufacturerMode = 1;
    CSetting form;
    const QStringList expected{"standardList",
                               "pictureFormatList",
                               "videoCodingList",
                               "videoBitrateEdit",
                               "brightnessSlider",
                               "contrastSlider",
                               "saturationSlider",
                               "audioCodingList",
                               "audioBitrateList",
                               "deliveryList",
                               "frequencyEdit",
                               "tsIdEdit",
                               "modeList",
                               "constellationList",
                               "bandwidthList",
                               "codeRateList",
                               "guardList",
                               "symbolRateEdit",
                               "cableConstellationList",
                               "levelSlider",
                               "networkVersionEdit",
                               "originalNetworkIdEdit",
                               "networkIdEdit",
                               "networkNameEdit",
                               "serviceIdEdit",
                               "serviceNameEdit",
                               "lcnEdit",
                               "lcnFlavourList",
                               "pmtPidEdit",
                               "videoPidEdit",
                               "audioPidEdit",
                               "eventNameEdit",
                               "eventTextEdit",
                               "referenceEdit",
                               "logoList",
                               "countryList",
                               "firmwareReloadButton",
                               "setDefaultButton",
                               "loadButton",
                               "saveButton",
                               "iqList",
                               "iqFromFileButton",
                               "iqToFileButton"};
    QStringList chain;
    QWidget *w = form.findChild<QWidget *>(expected.first());
    QVERIFY(w);
    for (int guard = 0; guard < 500 && w; ++guard) {
        if ((w->focusPolicy() & Qt::TabFocus) && expected.contains(w->objectName()) &&
            !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
        if (w == form.findChild<QWidget *>(expected.first()))
            break;
    }
    QCOMPARE(chain, expected);
}

void TestForm::lowerStripOnlyForManufacturer_data()
{
    QTest::addColumn<int>("manufacturer");
    QTest::newRow("technician") << 0;
    QTest::newRow("manufacturer") << 1;
}

void TestForm::lowerStripOnlyForManufacturer()
{
    QFETCH(int, manufacturer);
    g_manufacturerMode = manufacturer;
    CSetting form;
    form.show();
    for (const char *name : {"referenceEdit", "countryList", "firmwareReloadButton", "iqList",
                             "loadButton", "saveButton", "iqFromFileButton", "iqToFileButton"}) {
        QWidget *w = form.findChild<QWidget *>(name);
        QVERIFY2(w, name);
        QCOMPARE(w->isVisible(), manufacturer == 1);
    }
    QVERIFY(form.findChild<QWidget *>("frequencyEdit")->isVisible());
}

void TestForm::buttonsSetRequests()
{
    g_manufacturerMode = 1;
    CSetting form;
    form.findChild<QPushButton *>("setDefaultButton")->click();
    QCOMPARE(form.m_changeCountdown, quint8(1));
    QCOMPARE(form.m_defaultRequest, quint8(1));
    QCOMPARE(g_forceUpgrade, 0);

    form.findChild<QPushButton *>("firmwareReloadButton")->click();
    QCOMPARE(g_forceUpgrade, 1);
    QCOMPARE(g_relaxDigestChecks, 1);
}

void TestForm::logoListIsSorted()
{
    QDir(m_dir.path()).mkpath("logos");
    for (const char *name : {"ZEPHA.dg1", "MORVEN.dg1", "TESTCARD.dg1", "notes.txt"}) {
        QFile f(m_dir.filePath(QStringLiteral("logos/") + name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    CSetting form;
    auto *list = form.findChild<QComboBox *>("logoList");
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->itemText(i);
    QCOMPARE(names, (QStringList{"MORVEN.dg1", "TESTCARD.dg1", "ZEPHA.dg1"}));
    QVERIFY(list->isEditable());

    // A typed name is taken as it is, and Enter does not add it to the list.
    list->lineEdit()->clear();
    QTest::keyClicks(list->lineEdit(), QStringLiteral("NEW.dg1"));
    QTest::keyClick(list->lineEdit(), Qt::Key_Return);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->currentText(), QStringLiteral("NEW.dg1"));
}

void TestForm::trackBarMouseReleaseArmsEdit_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<bool>("onHandle");

    for (const char *name :
         {"levelSlider", "brightnessSlider", "contrastSlider", "saturationSlider"}) {
        QTest::addRow("%s, click on the groove", name) << name << false;
        QTest::addRow("%s, handle dragged", name) << name << true;
    }
}

void TestForm::trackBarMouseReleaseArmsEdit()
{
    QFETCH(QString, slider);
    QFETCH(bool, onHandle);

    formtest::Recorders recorders;
    CSetting form;
    DeviceConfig record = ValidRecord();
    record.attenuationDb = 29; // every handle at the left end
    record.brightness = 0;
    record.contrast = 0;
    record.saturation = 0;
    form.LoadFromBytes(FullBytes(record));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *bar = form.findChild<QSlider *>(slider);
    QVERIFY(bar);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(form.m_changeCountdown, quint8(0));

    // Whatever the mouse did on the bar, letting go of it arms the write
    // like any other edit.
    if (onHandle) {
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->maximum() / 2);
        QCOMPARE(form.m_changeCountdown, quint8(10));
        bar->setSliderDown(false);
    } else {
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = bar->orientation();
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.tickPosition = bar->tickPosition();
        option.tickInterval = bar->tickInterval();
        option.sliderPosition = bar->sliderPosition();
        option.sliderValue = bar->value();
        const QRect rect =
            bar->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, bar);
        const QPoint groove(rect.right() - 2, rect.center().y());
        QTest::mousePress(bar, Qt::LeftButton, {}, groove);
        QVERIFY(bar->value() > 0);
        QCOMPARE(form.m_changeCountdown, quint8(10));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, groove);
    }
    QCOMPARE(form.m_changeCountdown, quint8(3));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
