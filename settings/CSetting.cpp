#include "settings/CSetting.h"

#include "app/AppState.h"
#include "app/DecimalText.h"
#include "app/DialogUnits.h"
#include "app/StatusSink.h"
#include "app/TextTable.h"
#include "app/UserAlerts.h"
#include "calib/CIqList.h"
#include "calib/CalibController.h"
#include "link/CXmit.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QRegularExpression>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>
#include <climits>

namespace {

// Text table rows of the labels.
constexpr int kRowConfigurationError = 2;
constexpr int kRowStandard = 9;
constexpr int kRowPictureFormat = 10;
constexpr int kRowLight = 11;
constexpr int kRowContrast = 12;
constexpr int kRowSaturation = 13;
constexpr int kRowFrequency = 14;
constexpr int kRowTsId = 15;
constexpr int kRowMode = 16;
constexpr int kRowConstellation = 17;
constexpr int kRowBandwidth = 18;
constexpr int kRowCodeRate = 19;
constexpr int kRowGuard = 20;
constexpr int kRowLevel = 21;
constexpr int kRowNetwork = 22;
constexpr int kRowOriginalId = 23;
constexpr int kRowId = 24;
constexpr int kRowName = 25;
constexpr int kRowService = 26;
constexpr int kRowLcn = 27;
constexpr int kRowPmtPid = 28;
constexpr int kRowVideoPid = 29;
constexpr int kRowAudioPid = 30;
constexpr int kNoRow = -1;

constexpr int kLevelMax = kMaxAttenuationDb;
constexpr int kPictureMax = 255;

// Limits of the form's checks and of the replacements made before writing.
constexpr int kFrequencyMin = 47000;
constexpr int kFrequencyMax = 862000;
constexpr int kFrequencyFallback = 474000;
constexpr int kPidMin = 32;
constexpr int kPidMax = 8190;
constexpr int kVideoBitrateMin = 3000;
constexpr int kVideoBitrateMax = 12000;

constexpr int kConfigErrorBeepHz = 880;
constexpr int kConfigErrorBeepMs = 1000;
constexpr int kConfigErrorStatusMs = 10000;
constexpr int kDefaultBeepHz = 880;
constexpr int kDefaultBeepMs = 200;
constexpr int kReadErrorStatusMs = 2000;

constexpr quint16 kCurrentConfigFile = 590;
constexpr quint16 kDefaultConfigFile = 595;

const QString kReadErrorText = QStringLiteral("Config. read error");

bool IsType82()
{
    return g_xmit.m_deviceType == kDeviceType82;
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Reads an unsigned number the way "%u" does: a leading minus sign is taken
// and the number wraps around (modulo 2^32), as the C library does.
bool ScanUnsigned(const QString &text, quint32 *value)
{
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    quint32 number = 0;
    bool any = false;
    while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9') {
        any = true;
        number = number * 10u + quint32(text.at(i).unicode() - u'0');
        ++i;
    }
    if (!any)
        return false;
    *value = negative ? quint32(0u - number) : number;
    return true;
}

// Refuses typing beyond a maximum length. Text the program puts in is not
// validated, so a longer value from the device is shown whole and reported
// by the length check when the form is read.
class MaxLengthValidator final : public QValidator
{
public:
    MaxLengthValidator(int maximum, QObject *parent) : QValidator(parent), m_maximum(maximum) {}
    State validate(QString &input, int &) const override
    {
        return input.size() > m_maximum ? Invalid : Acceptable;
    }

private:
    int m_maximum;
};

// The small picture at the left of each track bar: a wedge growing to the
// right, drawn in the palette's text colour.
QPixmap TrackBarPicture(const QPalette &palette)
{
    QPixmap picture(21, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette.color(QPalette::WindowText));
    const QPointF wedge[3] = {QPointF(1, 10), QPointF(20, 10), QPointF(20, 1)};
    painter.drawPolygon(wedge, 3);
    return picture;
}

void SelectIndex(QComboBox *list, int index)
{
    // An index the list does not hold leaves it without a selection.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void Refill(QComboBox *list, const QStringList &items)
{
    list->clear();
    list->addItems(items);
    list->setCurrentIndex(-1);
}

QFrame *NewRule(QWidget *parent)
{
    auto *rule = new QFrame(parent);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

} // namespace

CSetting::CSetting(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("settingsForm"));
    setAccessibleName(QStringLiteral("Device settings"));

    // Marks the part of the form a technician sees. It is never drawn: it is
    // only measured by the main window, and hidden so it takes no clicks.
    m_upperFrame = new QFrame(this);
    m_upperFrame->setObjectName(QStringLiteral("upperFrame"));
    m_upperFrame->setFrameShape(QFrame::NoFrame);
    m_upperFrame->setGeometry(DluToPixels(QRect(QPoint(0, 0), kUpperFrameDlu), font()));
    m_upperFrame->hide();

    BuildControls();
    ApplyTexts();
    CalibHooks hooks;
    hooks.buildRecord = [this] {
        RecordBuffer buffer{};
        const quint16 length = BuildRecord(buffer);
        return QByteArray(reinterpret_cast<const char *>(buffer.data()), length);
    };
    hooks.loadFromBytes = [this](const QByteArray &record) {
        LoadFromBytes(RecordBufferFrom(record));
    };
    hooks.armWriteAndDefault = [this] { OnSetAsDefault(); };
    hooks.retune = [this](int frequencyKhz) {
        // Only the frequency changes: other edits still pending stay as typed.
        m_values.frequencyKhz = frequencyKhz;
        m_frequencyEdit->setText(QString::number(frequencyKhz));
        m_changeCountdown = kEditCountdown;
    };
    m_calib = new CalibController(g_xmit, m_iqTable, m_iqList, this, std::move(hooks), this);
    // Only the manufacturer sees the lower strip; hidden, its controls are
    // also out of the Tab order.
    m_lowerStrip->setVisible(g_manufacturerMode != 0);
    FillLogoList();

    resize(sizeHint());
    PlaceParts();

    m_formTimer = new QTimer(this);
    m_formTimer->setObjectName(QStringLiteral("formTimer"));
    m_formTimer->setSingleShot(true);
    connect(m_formTimer, &QTimer::timeout, this, &CSetting::OnFormTimer);

    hide();
}

CSetting::~CSetting() = default;

QSize CSetting::sizeHint() const
{
    return DluToPixels(kFormDlu, font());
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

QLabel *CSetting::NewLabel(QWidget *parent, const char *name, int textRow, const QString &caption)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    if (textRow != kNoRow)
        m_translatedLabels.append({label, textRow});
    return label;
}

QComboBox *CSetting::NewList(QWidget *parent, const char *name, const QStringList &items)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->addItems(items);
    list->setCurrentIndex(-1);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // Only the user's choices count as changes; the program's own selections
    // (showing the values) do not.
    connect(list, &QComboBox::activated, this, &CSetting::ArmCountdown);
    return list;
}

QLineEdit *CSetting::NewEdit(QWidget *parent, const char *name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    // Every change counts, the program's own included: a load clears the
    // countdown as its last step.
    connect(edit, &QLineEdit::textChanged, this, &CSetting::ArmCountdown);
    return edit;
}

QSlider *CSetting::NewSlider(QWidget *parent, const char *name, int maximum, int tickInterval)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(0, maximum);
    slider->setTickInterval(tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setPageStep(tickInterval);
    connect(slider, &QSlider::valueChanged, this, &CSetting::OnSliderMoved);
    // A handle drag ends with sliderReleased, but a click on the groove moves
    // the bar without it: the mouse release itself is what counts.
    connect(slider, &QSlider::sliderReleased, this, &CSetting::ArmCountdown);
    slider->installEventFilter(this);
    return slider;
}

void CSetting::BuildControls()
{
    m_upperPart = new QWidget(this);
    m_upperPart->setObjectName(QStringLiteral("upperPart"));
    auto *upper = new QVBoxLayout(m_upperPart);
    upper->setContentsMargins(6, 4, 6, 2);
    upper->setSpacing(2);
    upper->addWidget(BuildVideoGroup());
    upper->addWidget(NewRule(m_upperPart));
    upper->addWidget(BuildAudioGroup());
    upper->addWidget(NewRule(m_upperPart));
    upper->addWidget(BuildModulationGroup());
    upper->addWidget(NewRule(m_upperPart));
    upper->addWidget(BuildNetworkGroup());
    upper->addWidget(NewRule(m_upperPart));
    upper->addWidget(BuildServiceGroup());
    upper->addWidget(NewRule(m_upperPart));
    upper->addWidget(BuildEventGroup());
    upper->addStretch(1);

    m_lowerStrip = BuildLowerStrip();
}

namespace {

QWidget *NewGroup(QWidget *parent, const char *name, QGridLayout **grid)
{
    auto *group = new QWidget(parent);
    group->setObjectName(QLatin1String(name));
    *grid = new QGridLayout(group);
    (*grid)->setContentsMargins(0, 0, 0, 0);
    (*grid)->setHorizontalSpacing(6);
    (*grid)->setVerticalSpacing(2);
    return group;
}

// A group title in the first column, its text also the group's name for
// assistive tools.
QLabel *GroupTitle(QWidget *group, QGridLayout *grid, int rows)
{
    auto *title = new QLabel(group);
    title->setObjectName(group->objectName() + QStringLiteral("Title"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    grid->addWidget(title, 0, 0, rows, 1, Qt::AlignLeft | Qt::AlignVCenter);
    return title;
}

QWidget *Row(QWidget *parent, std::initializer_list<QWidget *> widgets, bool stretchAtEnd)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    for (QWidget *w : widgets)
        row->addWidget(w);
    if (stretchAtEnd)
        row->addStretch(1);
    auto *holder = new QWidget(parent);
    holder->setLayout(row);
    return holder;
}

} // namespace

QWidget *CSetting::BuildVideoGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "videoGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 4);
    title->setText(QStringLiteral("VIDEO"));
    group->setAccessibleName(title->text());

    m_standardLabel = NewLabel(group, "standardLabel", kRowStandard);
    m_standardList =
        NewList(group, "standardList", {QStringLiteral("PAL"), QStringLiteral("NTSC")});
    m_standardLabel->setBuddy(m_standardList);
    m_pictureFormatLabel = NewLabel(group, "pictureFormatLabel", kRowPictureFormat);
    m_pictureFormatList = NewList(group, "pictureFormatList", {});
    m_pictureFormatList->setMinimumContentsLength(4);
    m_pictureFormatLabel->setBuddy(m_pictureFormatList);
    m_videoCodingList =
        NewList(group, "videoCodingList",
                {QStringLiteral("H264"), QStringLiteral("MPEG2-SD"), QStringLiteral("MPEG2")});
    m_videoCodingList->setAccessibleName(QStringLiteral("Video coding"));
    m_videoBitrateEdit = NewEdit(group, "videoBitrateEdit");
    m_videoBitrateEdit->setMaximumWidth(DluToPixelsX(30, font()));
    m_videoBitrateEdit->setAccessibleName(QStringLiteral("Video bit rate (Kb/s)"));
    QLabel *unit = NewLabel(group, "videoBitrateUnit", kNoRow, QStringLiteral("Kb/s"));
    unit->setBuddy(m_videoBitrateEdit);

    auto *top = new QHBoxLayout;
    top->setSpacing(4);
    top->addWidget(m_standardLabel);
    top->addWidget(m_standardList);
    top->addSpacing(8);
    top->addWidget(m_pictureFormatLabel);
    top->addWidget(m_pictureFormatList);
    top->addSpacing(8);
    top->addWidget(m_videoCodingList);
    top->addWidget(m_videoBitrateEdit);
    top->addWidget(unit);
    top->addStretch(1);
    grid->addLayout(top, 0, 1, 1, 4);

    const QPixmap picture = TrackBarPicture(palette());
    auto addBar = [&](int row, const char *labelName, int textRow, const char *sliderName,
                      const char *valueName, QLabel **label, QSlider **slider, QLabel **value) {
        auto *icon = new QLabel(group);
        icon->setPixmap(picture);
        icon->setAccessibleName(QStringLiteral("Track bar picture"));
        *label = NewLabel(group, labelName, textRow);
        *slider = NewSlider(group, sliderName, kPictureMax, 16);
        (*label)->setBuddy(*slider);
        *value = NewLabel(group, valueName, kNoRow, QStringLiteral("128"));
        (*value)->setMinimumWidth(
            (*value)->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        grid->addWidget(icon, row, 1);
        grid->addWidget(*label, row, 2);
        grid->addWidget(*slider, row, 3);
        grid->addWidget(*value, row, 4);
    };
    addBar(1, "brightnessLabel", kRowLight, "brightnessSlider", "brightnessValue",
           &m_brightnessLabel, &m_brightnessSlider, &m_brightnessValue);
    addBar(2, "contrastLabel", kRowContrast, "contrastSlider", "contrastValue", &m_contrastLabel,
           &m_contrastSlider, &m_contrastValue);
    addBar(3, "saturationLabel", kRowSaturation, "saturationSlider", "saturationValue",
           &m_saturationLabel, &m_saturationSlider, &m_saturationValue);
    grid->setColumnStretch(3, 1);
    return group;
}

QWidget *CSetting::BuildAudioGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "audioGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 1);
    title->setText(QStringLiteral("AUDIO"));
    group->setAccessibleName(title->text());

    m_audioCodingList =
        NewList(group, "audioCodingList", {QStringLiteral("AAC-LC"), QStringLiteral("MPEG1-L2")});
    m_audioCodingList->setAccessibleName(QStringLiteral("Audio coding"));
    m_audioBitrateList =
        NewList(group, "audioBitrateList",
                {QStringLiteral("128 Kb/s"), QStringLiteral("192 Kb/s"), QStringLiteral("256 Kb/s"),
                 QStringLiteral("320  Kb/s"), QStringLiteral("384  Kb/s")});
    m_audioBitrateList->setAccessibleName(QStringLiteral("Audio bit rate"));
    grid->addWidget(Row(group, {m_audioCodingList, m_audioBitrateList}, true), 0, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget *CSetting::BuildModulationGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "modulationGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 5);
    title->setText(QStringLiteral("Modulation :"));
    group->setAccessibleName(title->text());

    // Created in Tab order: row by row, left to right.
    m_deliveryList =
        NewList(group, "deliveryList", {QStringLiteral("DVB-T"), QStringLiteral("DVB-C")});
    m_deliveryList->setAccessibleName(QStringLiteral("Delivery system"));
    QLabel *frequencyLabel = NewLabel(group, "frequencyLabel", kRowFrequency);
    m_frequencyEdit = NewEdit(group, "frequencyEdit");
    frequencyLabel->setBuddy(m_frequencyEdit);
    QLabel *tsIdLabel = NewLabel(group, "tsIdLabel", kRowTsId);
    m_tsIdEdit = NewEdit(group, "tsIdEdit");
    tsIdLabel->setBuddy(m_tsIdEdit);

    m_modeLabel = NewLabel(group, "modeLabel", kRowMode);
    m_modeList = NewList(group, "modeList", {QStringLiteral("2K"), QStringLiteral("8K")});
    m_modeLabel->setBuddy(m_modeList);
    m_constellationLabel = NewLabel(group, "constellationLabel", kRowConstellation);
    m_constellationList =
        NewList(group, "constellationList",
                {QStringLiteral("QPSK"), QStringLiteral("QAM16"), QStringLiteral("QAM64")});
    m_constellationLabel->setBuddy(m_constellationList);
    m_bandwidthLabel = NewLabel(group, "bandwidthLabel", kRowBandwidth);
    m_bandwidthList =
        NewList(group, "bandwidthList",
                {QStringLiteral("6 Mhz"), QStringLiteral("7 Mhz"), QStringLiteral("8 Mhz")});
    m_bandwidthLabel->setBuddy(m_bandwidthList);

    m_codeRateLabel = NewLabel(group, "codeRateLabel", kRowCodeRate);
    m_codeRateList = NewList(group, "codeRateList",
                             {QStringLiteral("1/2"), QStringLiteral("2/3"), QStringLiteral("3/4"),
                              QStringLiteral("5/6"), QStringLiteral("7/8")});
    m_codeRateLabel->setBuddy(m_codeRateList);
    m_guardLabel = NewLabel(group, "guardLabel", kRowGuard);
    m_guardList = NewList(group, "guardList",
                          {QStringLiteral("1/32"), QStringLiteral("1/16"), QStringLiteral("1/8"),
                           QStringLiteral("1/4")});
    m_guardLabel->setBuddy(m_guardList);
    m_symbolRateLabel = NewLabel(group, "symbolRateLabel", kNoRow, QStringLiteral("Symbol rate :"));
    m_symbolRateEdit = NewEdit(group, "symbolRateEdit");
    m_symbolRateLabel->setBuddy(m_symbolRateEdit);
    m_cableConstellationLabel = NewLabel(group, "cableConstellationLabel", kRowConstellation);
    m_cableConstellationList =
        NewList(group, "cableConstellationList",
                {QStringLiteral("QAM16"), QStringLiteral("QAM32"), QStringLiteral("QAM64"),
                 QStringLiteral("QAM128"), QStringLiteral("QAM256")});
    m_cableConstellationLabel->setBuddy(m_cableConstellationList);
    QLabel *levelLabel = NewLabel(group, "levelLabel", kRowLevel);
    auto *levelIcon = new QLabel(group);
    levelIcon->setPixmap(TrackBarPicture(palette()));
    levelIcon->setAccessibleName(QStringLiteral("Track bar picture"));
    m_levelSlider = NewSlider(group, "levelSlider", kLevelMax, 5);
    levelLabel->setBuddy(m_levelSlider);
    m_levelText = NewLabel(group, "levelText", kNoRow, QStringLiteral("dB"));
    m_levelText->setMinimumWidth(
        m_levelText->fontMetrics().horizontalAdvance(QStringLiteral("-29dB ")));

    // Two "Const. :" labels: the descriptions tell them apart.
    m_constellationList->setAccessibleDescription(QStringLiteral("DVB-T constellation"));
    m_cableConstellationList->setAccessibleDescription(QStringLiteral("DVB-C constellation"));

    const int editWidth = DluToPixelsX(36, font());
    for (QLineEdit *edit : {m_frequencyEdit, m_tsIdEdit, m_symbolRateEdit})
        edit->setMaximumWidth(editWidth);

    // Three label + field pairs per row.
    grid->addWidget(m_deliveryList, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(frequencyLabel, 0, 3);
    grid->addWidget(m_frequencyEdit, 0, 4);
    grid->addWidget(tsIdLabel, 0, 5);
    grid->addWidget(m_tsIdEdit, 0, 6, Qt::AlignLeft);
    grid->addWidget(m_modeLabel, 1, 1);
    grid->addWidget(m_modeList, 1, 2);
    grid->addWidget(m_constellationLabel, 1, 3);
    grid->addWidget(m_constellationList, 1, 4);
    grid->addWidget(m_bandwidthLabel, 1, 5);
    grid->addWidget(m_bandwidthList, 1, 6, Qt::AlignLeft);
    grid->addWidget(m_codeRateLabel, 2, 1);
    grid->addWidget(m_codeRateList, 2, 2);
    grid->addWidget(m_guardLabel, 2, 3);
    grid->addWidget(m_guardList, 2, 4);
    grid->addWidget(m_symbolRateLabel, 3, 1);
    grid->addWidget(m_symbolRateEdit, 3, 2);
    grid->addWidget(m_cableConstellationLabel, 3, 3);
    grid->addWidget(m_cableConstellationList, 3, 4);
    grid->addWidget(levelLabel, 4, 1);
    auto *level = new QHBoxLayout;
    level->setSpacing(2);
    level->addWidget(levelIcon);
    level->addWidget(m_levelSlider, 1);
    level->addWidget(m_levelText);
    grid->addLayout(level, 4, 2, 1, 5);
    grid->setColumnStretch(6, 1);
    return group;
}

QWidget *CSetting::BuildNetworkGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "networkGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 1);
    m_translatedLabels.append({title, kRowNetwork});

    QLabel *versionLabel =
        NewLabel(group, "networkVersionLabel", kNoRow, QStringLiteral("Vers. :"));
    m_networkVersionEdit = NewEdit(group, "networkVersionEdit");
    m_networkVersionEdit->setMaximumWidth(DluToPixelsX(16, font()));
    versionLabel->setBuddy(m_networkVersionEdit);
    QLabel *originalLabel = NewLabel(group, "originalNetworkIdLabel", kRowOriginalId);
    m_originalNetworkIdEdit = NewEdit(group, "originalNetworkIdEdit");
    m_originalNetworkIdEdit->setMaximumWidth(DluToPixelsX(28, font()));
    originalLabel->setBuddy(m_originalNetworkIdEdit);
    QLabel *idLabel = NewLabel(group, "networkIdLabel", kRowId);
    m_networkIdEdit = NewEdit(group, "networkIdEdit");
    m_networkIdEdit->setMaximumWidth(DluToPixelsX(28, font()));
    idLabel->setBuddy(m_networkIdEdit);
    QLabel *nameLabel = NewLabel(group, "networkNameLabel", kRowName);
    m_networkNameEdit = NewEdit(group, "networkNameEdit");
    nameLabel->setBuddy(m_networkNameEdit);

    grid->addWidget(Row(group,
                        {versionLabel, m_networkVersionEdit, originalLabel, m_originalNetworkIdEdit,
                         idLabel, m_networkIdEdit, nameLabel, m_networkNameEdit},
                        false),
                    0, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget *CSetting::BuildServiceGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "serviceGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 2);
    m_translatedLabels.append({title, kRowService});

    QLabel *idLabel = NewLabel(group, "serviceIdLabel", kRowId);
    m_serviceIdEdit = NewEdit(group, "serviceIdEdit");
    idLabel->setBuddy(m_serviceIdEdit);
    QLabel *nameLabel = NewLabel(group, "serviceNameLabel", kRowName);
    m_serviceNameEdit = NewEdit(group, "serviceNameEdit");
    nameLabel->setBuddy(m_serviceNameEdit);
    QLabel *lcnLabel = NewLabel(group, "lcnLabel", kRowLcn);
    m_lcnEdit = NewEdit(group, "lcnEdit");
    lcnLabel->setBuddy(m_lcnEdit);
    m_lcnFlavourList = NewList(group, "lcnFlavourList", {});
    m_lcnFlavourList->setMinimumContentsLength(6);
    m_lcnFlavourList->setAccessibleName(QStringLiteral("LCN flavour"));
    QLabel *pmtLabel = NewLabel(group, "pmtPidLabel", kRowPmtPid);
    m_pmtPidEdit = NewEdit(group, "pmtPidEdit");
    pmtLabel->setBuddy(m_pmtPidEdit);
    QLabel *videoLabel = NewLabel(group, "videoPidLabel", kRowVideoPid);
    m_videoPidEdit = NewEdit(group, "videoPidEdit");
    videoLabel->setBuddy(m_videoPidEdit);
    QLabel *audioLabel = NewLabel(group, "audioPidLabel", kRowAudioPid);
    m_audioPidEdit = NewEdit(group, "audioPidEdit");
    audioLabel->setBuddy(m_audioPidEdit);

    const int numberWidth = DluToPixelsX(28, font());
    for (QLineEdit *edit :
         {m_serviceIdEdit, m_lcnEdit, m_pmtPidEdit, m_videoPidEdit, m_audioPidEdit})
        edit->setMaximumWidth(numberWidth);

    auto *rows = new QVBoxLayout;
    rows->setSpacing(2);
    rows->addWidget(Row(group,
                        {idLabel, m_serviceIdEdit, nameLabel, m_serviceNameEdit, lcnLabel,
                         m_lcnEdit, m_lcnFlavourList},
                        false));
    rows->addWidget(
        Row(group, {pmtLabel, m_pmtPidEdit, videoLabel, m_videoPidEdit, audioLabel, m_audioPidEdit},
            true));
    grid->addLayout(rows, 0, 1, 2, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget *CSetting::BuildEventGroup()
{
    QGridLayout *grid = nullptr;
    QWidget *group = NewGroup(m_upperPart, "eventGroup", &grid);
    QLabel *title = GroupTitle(group, grid, 2);
    title->setText(QStringLiteral("E.I.T."));
    group->setAccessibleName(title->text());

    QLabel *nameLabel = NewLabel(group, "eventNameLabel", kNoRow, QStringLiteral("Name : "));
    m_eventNameEdit = NewEdit(group, "eventNameEdit");
    nameLabel->setBuddy(m_eventNameEdit);
    QLabel *textLabel = NewLabel(group, "eventTextLabel", kNoRow, QStringLiteral("Text :"));
    m_eventTextEdit = NewEdit(group, "eventTextEdit");
    textLabel->setBuddy(m_eventTextEdit);
    grid->addWidget(nameLabel, 0, 1);
    grid->addWidget(m_eventNameEdit, 0, 2);
    grid->addWidget(textLabel, 1, 1);
    grid->addWidget(m_eventTextEdit, 1, 2);
    grid->setColumnStretch(2, 1);
    return group;
}

QWidget *CSetting::BuildLowerStrip()
{
    auto *strip = new QFrame(this);
    strip->setObjectName(QStringLiteral("lowerStrip"));
    strip->setAccessibleName(QStringLiteral("Manufacturer tools"));
    strip->setFrameShape(QFrame::Box);
    strip->setFrameShadow(QFrame::Sunken);
    strip->setAutoFillBackground(true);
    QPalette grey = strip->palette();
    grey.setColor(QPalette::Window, grey.color(QPalette::Window).darker(108));
    strip->setPalette(grey);

    m_referenceLabel = NewLabel(strip, "referenceLabel", kNoRow, QStringLiteral("Reference :"));
    m_referenceEdit = NewEdit(strip, "referenceEdit");
    m_referenceLabel->setBuddy(m_referenceEdit);
    QLabel *logoLabel = NewLabel(strip, "logoLabel", kNoRow, QStringLiteral("Logos :"));
    m_logoList = new QComboBox(strip);
    m_logoList->setObjectName(QStringLiteral("logoList"));
    m_logoList->setEditable(true);
    // What is typed names the logo; it is not added to the list.
    m_logoList->setInsertPolicy(QComboBox::NoInsert);
    logoLabel->setBuddy(m_logoList);
    m_countryLabel = NewLabel(strip, "countryLabel", kNoRow, QStringLiteral("Def. Country :"));
    m_countryList = new QComboBox(strip);
    m_countryList->setObjectName(QStringLiteral("countryList"));
    m_countryList->setMinimumContentsLength(8);
    m_countryLabel->setBuddy(m_countryList);
    connect(m_countryList, &QComboBox::activated, this, &CSetting::OnCountryChosen);

    auto newButton = [strip](const char *name, const QString &caption) {
        auto *button = new QPushButton(caption, strip);
        button->setObjectName(QLatin1String(name));
        // Enter does nothing anywhere in the form, on a focused button too.
        button->setAutoDefault(false);
        return button;
    };
    m_firmwareReloadButton = newButton("firmwareReloadButton", QStringLiteral("Firm. Reload"));
    m_setDefaultButton = newButton("setDefaultButton", QStringLiteral("Set as Def. Param"));
    m_loadButton = newButton("loadButton", QStringLiteral("LOAD"));
    m_saveButton = newButton("saveButton", QStringLiteral("SAVE"));
    connect(m_firmwareReloadButton, &QPushButton::clicked, this, &CSetting::OnFirmwareReload);
    connect(m_setDefaultButton, &QPushButton::clicked, this, &CSetting::OnSetAsDefault);
    connect(m_loadButton, &QPushButton::clicked, this, &CSetting::OnConfigLoad);
    connect(m_saveButton, &QPushButton::clicked, this, &CSetting::OnConfigSave);

    m_iqList = new CIqList(strip);
    m_iqFromFileButton = newButton("iqFromFileButton", QStringLiteral("<- FROM FILE"));
    m_iqToFileButton = newButton("iqToFileButton", QStringLiteral("-> TO FILE"));
    connect(m_iqFromFileButton, &QPushButton::clicked, this, &CSetting::OnIqFromFile);
    connect(m_iqToFileButton, &QPushButton::clicked, this, &CSetting::OnIqToFile);

    auto *grid = new QGridLayout(strip);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_referenceLabel, 0, 0);
    grid->addWidget(m_referenceEdit, 0, 1, 1, 4);
    grid->addWidget(logoLabel, 1, 0);
    grid->addWidget(m_logoList, 1, 1);
    grid->addWidget(m_countryLabel, 2, 0);
    grid->addWidget(m_countryList, 2, 1);
    grid->addWidget(m_firmwareReloadButton, 3, 0);
    grid->addWidget(m_setDefaultButton, 3, 1);
    grid->addWidget(m_loadButton, 4, 0);
    grid->addWidget(m_saveButton, 4, 1);
    // The I/Q list takes the height the strip has left.
    grid->addWidget(m_iqList, 1, 3, 5, 2);
    grid->addWidget(m_iqFromFileButton, 6, 3);
    grid->addWidget(m_iqToFileButton, 6, 4);
    grid->setColumnMinimumWidth(2, 8);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(5, 1);
    return strip;
}

void CSetting::ApplyTexts()
{
    for (const auto &[label, row] : m_translatedLabels)
        label->setText(GetText(row));
    // Groups are named after their titles, in the language shown.
    for (QWidget *group : m_upperPart->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (auto *title = group->findChild<QLabel *>(group->objectName() + QStringLiteral("Title")))
            group->setAccessibleName(title->text());
    }
    // Group titles share one column width, so the groups line up.
    int widest = 0;
    const auto titles =
        m_upperPart->findChildren<QLabel *>(QRegularExpression(QStringLiteral("Group"
                                                                              "Title$")));
    for (QLabel *title : titles)
        widest = std::max(widest, title->sizeHint().width());
    for (QLabel *title : titles)
        title->setMinimumWidth(widest);
}

void CSetting::FillLogoList()
{
    // Sorted, names with extension; the folder is read once, at start-up.
    const QDir logos(g_workingFolder + QStringLiteral("/logos"));
    QStringList names = logos.entryList({QStringLiteral("*.dg1")}, QDir::Files, QDir::Name);
    names.sort();
    m_logoList->clear();
    m_logoList->addItems(names);
    m_logoList->setCurrentIndex(-1);
    m_logoList->setEditText(QString());
}

void CSetting::PlaceParts()
{
    const int width = sizeHint().width();
    const int upperHeight = m_upperFrame->height();
    m_upperPart->setGeometry(0, 0, width, upperHeight);
    const int margin = DluToPixelsX(3, font());
    m_lowerStrip->setGeometry(margin, upperHeight + DluToPixelsY(3, font()), width - 2 * margin,
                              sizeHint().height() - upperHeight - DluToPixelsY(4, font()));
}

void CSetting::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool CSetting::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QSlider *>(watched))
        ArmCountdown();
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Set-up after a connection
// ---------------------------------------------------------------------------

void CSetting::PrepareForDevice()
{
    const bool type82 = IsType82();
    const int hardware = g_hardwareVersion;

    m_iqList->setEnabled(hardware >= 3);
    Refill(m_countryList,
           type82 ? QStringList{"FRENCH", "ENGLISH", "ITALIAN", "DEUTSCH", "ESPANOL", "POLSKI"}
                  : QStringList{"FRENCH", "ENGLISH", "ITALIAN", "DEUTSCH", "POLSKI", "ESPANOL"});
    Refill(m_lcnFlavourList,
           type82 ? QStringList{"EACEM", "ITC", "NORDIG"} : QStringList{"EACEM", "ITC"});
    Refill(m_pictureFormatList, type82 ? QStringList{"16/9", "4/3"} : QStringList{"4/3", "16/9"});
    for (QWidget *w : std::initializer_list<QWidget *>{m_videoCodingList, m_audioCodingList,
                                                       m_eventNameEdit, m_eventTextEdit})
        w->setEnabled(type82);
    m_deliveryList->setEnabled(type82 && hardware >= 1);
    // The I/Q files go with the 0x78 family only.
    m_iqFromFileButton->setEnabled(!type82);
    m_iqToFileButton->setEnabled(!type82);
    if (type82) {
        // The load replaces these.
        m_record.videoCoding = 1;
        m_record.audioCoding = 1;
        m_record.eventName.clear();
        m_record.eventText.clear();
    }

    show();
    m_changeCountdown = 0;
    m_defaultRequest = 0;
    m_haveRecord = false;
    m_timerStopped = false;
    m_formTimer->start(kFirstTickMs);

    m_calib->ReadIqTableFromDevice();

    LoadFromDevice();
}

void CSetting::StopFormTimer()
{
    m_timerStopped = true;
    m_formTimer->stop();
}

bool CSetting::IsFormTimerActive() const
{
    return m_formTimer->isActive();
}

void CSetting::UpdateDeliveryControls()
{
    const bool cable = IsType82() && g_hardwareVersion >= 1 && m_deliveryList->currentIndex() > 0;
    for (QWidget *w : std::initializer_list<QWidget *>{m_symbolRateLabel, m_cableConstellationLabel,
                                                       m_symbolRateEdit, m_cableConstellationList})
        w->setEnabled(cable);
    for (QWidget *w : std::initializer_list<QWidget *>{
             m_modeLabel, m_constellationLabel, m_bandwidthLabel, m_codeRateLabel, m_guardLabel,
             m_modeList, m_constellationList, m_bandwidthList, m_codeRateList, m_guardList})
        w->setEnabled(!cable);
}

void CSetting::RefreshLevelTexts()
{
    ReadControls();
    const int position = m_levelSlider->value();
    m_levelText->setText(position == kLevelMax ? QString::asprintf("%ddB", kLevelMax - position)
                                               : QString::asprintf("-%ddB", kLevelMax - position));
    m_brightnessValue->setText(QString::asprintf("%d", m_values.brightness));
    m_contrastValue->setText(QString::asprintf("%d", m_values.contrast));
    m_saturationValue->setText(QString::asprintf("%d", m_values.saturation));
    m_changeCountdown = kSliderMoveCountdown;
}

void CSetting::OnSliderMoved()
{
    if (!m_showingValues)
        RefreshLevelTexts();
}

void CSetting::OnCountryChosen()
{
    ReadControls();
    m_record.country = m_values.defaultCountry;
    ArmCountdown();
}

// ---------------------------------------------------------------------------
// Exchange between the values and the controls
// ---------------------------------------------------------------------------

void CSetting::ShowValues()
{
    m_showingValues = true;
    FormValues &v = m_values;
    SelectIndex(m_audioCodingList, m_record.audioCoding);
    SelectIndex(m_videoCodingList, m_record.videoCoding);
    m_eventNameEdit->setText(m_record.eventName);
    m_eventTextEdit->setText(m_record.eventText);
    m_brightnessSlider->setValue(v.brightness);
    m_contrastSlider->setValue(v.contrast);
    m_saturationSlider->setValue(v.saturation);
    SelectIndex(m_countryList, v.defaultCountry);
    SelectIndex(m_standardList, v.videoStandard);
    SelectIndex(m_pictureFormatList, v.pictureFormat);
    SelectIndex(m_modeList, v.transmissionMode);
    SelectIndex(m_lcnFlavourList, v.lcnFlavour);
    SelectIndex(m_constellationList, v.constellation);
    SelectIndex(m_bandwidthList, v.bandwidth);
    SelectIndex(m_codeRateList, v.codeRate);
    SelectIndex(m_guardList, v.guardInterval);
    SelectIndex(m_audioBitrateList, v.audioBitrate);
    m_levelSlider->setValue(v.levelPosition);
    auto number = [](int value) { return QString::asprintf("%d", value); };
    m_frequencyEdit->setText(number(v.frequencyKhz));
    m_tsIdEdit->setText(number(v.transportStreamId));
    m_networkVersionEdit->setText(number(v.networkVersion));
    m_originalNetworkIdEdit->setText(number(v.originalNetworkId));
    m_networkIdEdit->setText(number(v.networkId));
    m_networkNameEdit->setText(v.networkName);
    m_serviceIdEdit->setText(number(v.serviceId));
    m_serviceNameEdit->setText(v.serviceName);
    m_lcnEdit->setText(number(v.logicalChannelNumber));
    m_pmtPidEdit->setText(number(v.pmtPid));
    m_videoPidEdit->setText(number(v.videoPid));
    m_videoBitrateEdit->setText(number(v.videoBitrateKbps));
    m_audioPidEdit->setText(number(v.audioPid));
    m_referenceEdit->setText(v.reference);

    if (!m_lengthLimitsSet) {
        m_lengthLimitsSet = true;
        const QList<QPair<QLineEdit *, int>> limits{{m_networkNameEdit, kMaxNameChars},
                                                    {m_serviceNameEdit, kMaxNameChars},
                                                    {m_referenceEdit, kMaxReferenceChars},
                                                    {m_eventNameEdit, kMaxEventNameChars},
                                                    {m_eventTextEdit, kMaxEventTextChars}};
        for (const auto &[edit, maximum] : limits)
            edit->setValidator(new MaxLengthValidator(maximum, edit));
    }
    m_showingValues = false;
}

bool CSetting::ReadControls()
{
    const QString caption = QCoreApplication::applicationName();
    auto failInteger = [&] {
        ShowWarning(caption, QStringLiteral("Enter an integer."));
        return false;
    };
    auto inRange = [&](int value, int low, int high) {
        if (value >= low && value <= high)
            return true;
        ShowWarning(caption,
                    QStringLiteral("Enter an integer between %1 and %2.").arg(low).arg(high));
        return false;
    };
    auto shortEnough = [&](const QString &text, int maximum) {
        if (text.size() <= maximum)
            return true;
        ShowWarning(caption, QStringLiteral("Enter no more than %1 characters.").arg(maximum));
        return false;
    };

    FormValues &v = m_values;
    // Every control first, in the form's order; a text that is no integer
    // stops here and the values after it stay as they were.
    m_record.audioCoding = m_audioCodingList->currentIndex();
    m_record.videoCoding = m_videoCodingList->currentIndex();
    m_record.eventName = m_eventNameEdit->text();
    m_record.eventText = m_eventTextEdit->text();
    v.brightness = m_brightnessSlider->value();
    v.contrast = m_contrastSlider->value();
    v.saturation = m_saturationSlider->value();
    v.defaultCountry = m_countryList->currentIndex();
    v.videoStandard = m_standardList->currentIndex();
    v.pictureFormat = m_pictureFormatList->currentIndex();
    v.transmissionMode = m_modeList->currentIndex();
    v.lcnFlavour = m_lcnFlavourList->currentIndex();
    v.constellation = m_constellationList->currentIndex();
    v.bandwidth = m_bandwidthList->currentIndex();
    v.codeRate = m_codeRateList->currentIndex();
    v.guardInterval = m_guardList->currentIndex();
    v.audioBitrate = m_audioBitrateList->currentIndex();
    v.levelPosition = m_levelSlider->value();
    if (!ScanDecimal(m_frequencyEdit->text(), &v.frequencyKhz) ||
        !ScanDecimal(m_tsIdEdit->text(), &v.transportStreamId) ||
        !ScanDecimal(m_networkVersionEdit->text(), &v.networkVersion) ||
        !ScanDecimal(m_originalNetworkIdEdit->text(), &v.originalNetworkId) ||
        !ScanDecimal(m_networkIdEdit->text(), &v.networkId))
        return failInteger();
    v.networkName = m_networkNameEdit->text();
    if (!ScanDecimal(m_serviceIdEdit->text(), &v.serviceId))
        return failInteger();
    v.serviceName = m_serviceNameEdit->text();
    if (!ScanDecimal(m_lcnEdit->text(), &v.logicalChannelNumber) ||
        !ScanDecimal(m_pmtPidEdit->text(), &v.pmtPid) ||
        !ScanDecimal(m_videoPidEdit->text(), &v.videoPid) ||
        !ScanDecimal(m_videoBitrateEdit->text(), &v.videoBitrateKbps) ||
        !ScanDecimal(m_audioPidEdit->text(), &v.audioPid))
        return failInteger();

    // Then the checks, the first failure stops them; the values stay as read.
    if (!inRange(v.frequencyKhz, kFrequencyMin, kFrequencyMax) ||
        !inRange(v.transportStreamId, 0, 65535) || !inRange(v.networkVersion, 0, 31) ||
        !inRange(v.levelPosition, 0, kLevelMax) || !inRange(v.originalNetworkId, 0, 65535) ||
        !inRange(v.networkId, 0, 65535) || !inRange(v.serviceId, 0, 65535) ||
        !inRange(v.logicalChannelNumber, 0, 65535) || !inRange(v.pmtPid, kPidMin, kPidMax) ||
        !inRange(v.videoPid, 0, kPidMax) ||
        !inRange(v.videoBitrateKbps, kVideoBitrateMin, kVideoBitrateMax) ||
        !inRange(v.audioPid, kPidMin, kPidMax) || !shortEnough(v.networkName, kMaxNameChars) ||
        !shortEnough(v.serviceName, kMaxNameChars))
        return false;

    // The reference last, then the lengths of the texts of the lower strip
    // and the event information.
    v.reference = m_referenceEdit->text();
    return shortEnough(v.reference, kMaxReferenceChars) &&
           shortEnough(m_record.eventName, kMaxEventNameChars) &&
           shortEnough(m_record.eventText, kMaxEventTextChars);
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

void CSetting::LoadFromDevice()
{
    RecordBuffer buffer{};
    bool read = false;
    if (IsType82()) {
        read = g_xmit.Transact(kCmdReadConfig, nullptr, 0, 500);
    } else {
        const quint8 open[3] = {0x01, quint8(kCurrentConfigFile & 0xFF),
                                quint8(kCurrentConfigFile >> 8)};
        g_xmit.Transact(kCmdFile, open, 3, 500);
        const quint8 readRequest[3] = {0x03, 0x00, 0x01}; // 256 bytes
        read = g_xmit.Transact(kCmdFile, readRequest, 3, 5000);
    }
    if (!read) {
        // Keep what is shown: a cleared buffer decoded as a record would put
        // zeros everywhere, and the next edit would write them to the device.
        Status().ShowStatus(kReadErrorText, kReadErrorStatusMs, false);
        m_changeCountdown = 0;
        return;
    }
    std::copy_n(g_xmit.m_reply, std::min(g_xmit.m_replyLength, kRecordBufferSize), buffer.begin());
    LoadFromBytes(buffer);
}

void CSetting::LoadFromBytes(const RecordBuffer &buffer)
{
    if (IsType82()) {
        ParseFullLayout(buffer, m_record);
    } else {
        const quint32 magic = quint32(buffer[0]) | quint32(buffer[1]) << 8 |
                              quint32(buffer[2]) << 16 | quint32(buffer[3]) << 24;
        if (magic != kCompactMagic) {
            PlayBeep(kConfigErrorBeepHz, kConfigErrorBeepMs);
            Status().ShowStatus(GetText(kRowConfigurationError), kConfigErrorStatusMs, false);
            FinishLoad();
            return;
        }
        // The device's file is closed after every accepted header, also for
        // bytes that came from a file.
        const quint8 close[1] = {0x02};
        g_xmit.Transact(kCmdFile, close, 1, 5000);
        ParseCompactLayout(buffer, m_record);
    }

    const DeviceConfig &r = m_record;
    FormValues &v = m_values;
    v.reference = r.reference;
    v.defaultCountry = r.defaultCountry;
    v.frequencyKhz = r.frequencyKhz;
    v.bandwidth = r.bandwidth;
    v.transmissionMode = r.transmissionMode;
    v.constellation = r.constellation;
    v.codeRate = r.codeRate;
    v.guardInterval = r.guardInterval;
    v.levelPosition = kLevelMax - r.attenuationDb;
    v.networkVersion = r.networkVersion;
    v.networkId = r.networkId;
    v.originalNetworkId = r.originalNetworkId;
    v.networkName = r.networkName;
    v.transportStreamId = r.transportStreamId;
    v.serviceId = r.serviceId;
    v.lcnFlavour = r.lcnFlavour;
    v.logicalChannelNumber = r.logicalChannelNumber;
    v.serviceName = r.serviceName;
    v.pmtPid = r.pmtPid;
    v.videoPid = r.videoPid;
    v.audioPid = r.audioPid;
    v.videoBitrateKbps = r.videoBitrateKbps;
    v.audioBitrate = r.audioBitrate;
    v.videoStandard = r.videoStandard;
    v.pictureFormat = r.aspectRatio;
    v.brightness = r.brightness;
    v.contrast = r.contrast;
    v.saturation = r.saturation;

    if (IsType82()) {
        m_logoList->setEditText(r.logoName);
        SelectIndex(m_deliveryList, r.deliverySystem - 1);
        SelectIndex(m_cableConstellationList, r.cableConstellation);
        m_symbolRateEdit->setText(QString::asprintf("%d", r.symbolRate));
    } else {
        SelectIndex(m_deliveryList, 0);
    }
    m_haveRecord = true;
    FinishLoad();
}

void CSetting::FinishLoad()
{
    m_loading = true;
    ShowValues();
    RefreshLevelTexts();
    UpdateDeliveryControls();
    m_loading = false;
    // Last: showing the values and the refresh armed the countdown, and a
    // load must never leave a write pending by itself.
    m_changeCountdown = 0;
}

// ---------------------------------------------------------------------------
// Building the record
// ---------------------------------------------------------------------------

quint16 CSetting::BuildRecord(RecordBuffer &buffer)
{
    ReadControls();
    FormValues &v = m_values;
    if (m_defaultRequest)
        m_record.logoName = m_logoList->currentText();

    if (v.frequencyKhz < kFrequencyMin || v.frequencyKhz > kFrequencyMax)
        v.frequencyKhz = kFrequencyFallback;
    const auto badPid = [](int pid) { return pid < kPidMin || pid > kPidMax; };
    if (v.pmtPid == v.videoPid || v.pmtPid == v.audioPid || v.videoPid == v.audioPid ||
        badPid(v.pmtPid) || badPid(v.videoPid) || badPid(v.audioPid)) {
        v.pmtPid = 32;
        v.videoPid = 48;
        v.audioPid = 49;
    }
    if (v.videoBitrateKbps < kVideoBitrateMin || v.videoBitrateKbps > kVideoBitrateMax)
        v.videoBitrateKbps = kVideoBitrateMin;

    DeviceConfig &r = m_record;
    if (IsType82()) {
        r.deliverySystem = m_deliveryList->currentIndex() + 1;
        r.cableConstellation = m_cableConstellationList->currentIndex();
        quint32 symbolRate = 0;
        if (ScanUnsigned(m_symbolRateEdit->text(), &symbolRate))
            r.symbolRate = qint32(symbolRate);
    }
    r.reference = v.reference;
    r.networkVersion = v.networkVersion;
    r.transportStreamId = v.transportStreamId;
    r.serviceId = v.serviceId;
    r.frequencyKhz = v.frequencyKhz;
    r.constellation = v.constellation;
    r.bandwidth = v.bandwidth;
    r.transmissionMode = v.transmissionMode;
    r.codeRate = v.codeRate;
    r.guardInterval = v.guardInterval;
    r.attenuationDb = kLevelMax - v.levelPosition;
    r.pmtPid = v.pmtPid;
    r.videoPid = v.videoPid;
    r.audioPid = v.audioPid;
    r.logicalChannelNumber = v.logicalChannelNumber;
    r.videoBitrateKbps = v.videoBitrateKbps;
    r.audioBitrate = v.audioBitrate;
    r.originalNetworkId = v.originalNetworkId;
    r.serviceName = v.serviceName;
    r.networkName = v.networkName;
    r.brightness = v.brightness;
    r.videoStandard = v.videoStandard;
    r.networkId = v.networkId;
    r.contrast = v.contrast;
    r.aspectRatio = v.pictureFormat;
    r.saturation = v.saturation;
    r.defaultCountry = v.defaultCountry;
    r.lcnFlavour = v.lcnFlavour;

    return IsType82() ? WriteFullLayout(r, buffer) : WriteCompactLayout(r, buffer);
}

// ---------------------------------------------------------------------------
// Writing to the device
// ---------------------------------------------------------------------------

void CSetting::OnFormTimer()
{
    m_formTimer->stop();
    if (m_loading) {
        // A check message of the load is open: nothing is due yet.
    } else if (m_changeCountdown != 0) {
        --m_changeCountdown;
        if (m_changeCountdown == 0) {
            // Without the device's record the write is skipped (and the
            // record read again); then nothing is made the default either,
            // and no beep says it was.
            const bool written = m_haveRecord;
            ApplyToDevice(false);
            if (m_defaultRequest) {
                if (written) {
                    ApplyToDevice(true);
                    PlayBeep(kDefaultBeepHz, kDefaultBeepMs);
                }
                m_defaultRequest = 0;
            }
        }
    } else {
        quint8 identity[8] = {};
        const quint8 software = g_xmit.PollIdentity(identity, sizeof identity);
        // A 0x78 device says so when its configuration changed.
        if (software != 0 && g_xmit.m_deviceType == kDeviceType78 && identity[2] == 2)
            LoadFromDevice();
    }
    // The link watch may have stopped the timer while a message box of the
    // checks was open; then the form stays quiet until the next connection.
    if (!m_timerStopped)
        m_formTimer->start(kTickMs);
}

void CSetting::ApplyToDevice(bool makeDefault)
{
    if (!m_haveRecord) {
        // Nothing was read from the device since it connected: the form does
        // not hold its configuration, and writing it would overwrite the
        // fields the form does not show. Try the read again instead.
        Status().ShowStatus(kReadErrorText, kReadErrorStatusMs, false);
        m_changeCountdown = 0;
        if (!makeDefault)
            LoadFromDevice();
        return;
    }

    if (IsType82() && makeDefault) {
        // The record was written in the same tick; the device copies it over
        // its default, takes the logo and restarts.
        const QString logoPath = LogoPath();
        g_xmit.RunCommandLine(QStringLiteral("cp /VX360HD/current11.cfg /VX360HD/default11.cfg"));
        g_xmit.RunCommandLine(QStringLiteral("mount /dev/mmcblk0p1 /mnt"));
        UploadFile(logoPath, QStringLiteral("/mnt/logo.dg1"));
        g_xmit.RunCommandLine(QStringLiteral("umount /mnt"));
        g_xmit.RunCommandLine(QStringLiteral("sync"));
        g_xmit.Transact(kCmdRestart82, nullptr, 0, 500);
        g_xmit.m_rebootPending = 1;
        return;
    }

    RecordBuffer buffer{};
    const quint16 n = BuildRecord(buffer);
    if (IsType82()) {
        g_xmit.Transact(kCmdWriteConfig, buffer.data(), n, 500);
    } else {
        const quint16 file = makeDefault ? kDefaultConfigFile : kCurrentConfigFile;
        const quint8 open[3] = {0x00, quint8(file & 0xFF), quint8(file >> 8)};
        g_xmit.Transact(kCmdFile, open, 3, 500);
        QByteArray write(1, char(0x04));
        write.append(reinterpret_cast<const char *>(buffer.data()), n);
        g_xmit.Transact(kCmdFile, reinterpret_cast<const quint8 *>(write.constData()),
                        int(write.size()), 5000);
        const quint8 close[1] = {0x02};
        g_xmit.Transact(kCmdFile, close, 1, 5000);
        g_xmit.Transact(kCmdApply, nullptr, 0, 500);
    }
    m_changeCountdown = 0;
    LoadFromDevice();
}

bool CSetting::UploadFile(const QString &localPath, const QString &devicePath)
{
    if (!g_xmit.OpenDeviceFile(devicePath))
        return false;
    QFile file(localPath);
    if (localPath.isEmpty() || QFileInfo(localPath).isDir())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 length = file.size();
    if (length <= 0)
        return false;

    bool sent = false;
    for (qint64 offset = 0; offset < length; offset += kUploadBlockSize) {
        const QByteArray block = file.read(kUploadBlockSize);
        if (block.isEmpty()) {
            sent = false;
            break;
        }
        QByteArray request(1, char(0x04));
        request.append(block);
        sent = g_xmit.Transact(kCmdPathFile, reinterpret_cast<const quint8 *>(request.constData()),
                               int(request.size()), 500);
        if (!sent)
            break;
    }
    const quint8 close[1] = {0x02};
    g_xmit.Transact(kCmdPathFile, close, 1, 5000);
    return sent;
}

QString CSetting::LogoPath() const
{
    // The name comes from the device or a file: it may only name a file in
    // the logos folder. Anything else uploads nothing, like a missing file.
    const QString &name = m_record.logoName;
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..") ||
        name.contains(u'/') || name.contains(u'\\'))
        return QString();
    return g_workingFolder + QStringLiteral("/logos/") + name;
}

void CSetting::OnSetAsDefault()
{
    m_changeCountdown = 1;
    m_defaultRequest = 1;
}

void CSetting::OnFirmwareReload()
{
    // The link watch drops the connection; the next one rewrites the firmware.
    g_forceUpgrade = 1;
    g_relaxDigestChecks = 1;
}

void CSetting::OnConfigLoad()
{
    m_calib->TransferConfigFile(false);
}

void CSetting::OnConfigSave()
{
    m_calib->TransferConfigFile(true);
}

void CSetting::OnIqFromFile()
{
    m_calib->TransferIqFile(false);
}

void CSetting::OnIqToFile()
{
    m_calib->TransferIqFile(true);
}
