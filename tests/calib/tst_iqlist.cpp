// The I/Q list and its in-place editor, driven by mouse and key events as a
// technician would, with the table written to a simulated device after every
// edit.
#include "CalibRecorders.h"
#include "app/AppState.h"
#include "app/SimulatorProcess.h"
#include "calib/CInPlaceEdit.h"
#include "calib/CIqList.h"
#include "calib/CalibController.h"
#include "link/CXmit.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// A form like the settings form: a default button Enter would press, an
// Escape shortcut that would close it, the list and another control.
class Form : public QDialog
{
public:
    Form()
    {
        auto *layout = new QVBoxLayout(this);
        list = new CIqList(this);
        other = new QLineEdit(this);
        other->setObjectName("other");
        okButton = new QPushButton("OK", this);
        okButton->setDefault(true);
        layout->addWidget(list);
        layout->addWidget(other);
        layout->addWidget(okButton);
        auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        connect(escape, &QShortcut::activated, this, [this] { ++escapeShortcuts; });
        auto *del = new QShortcut(QKeySequence(Qt::Key_Delete), this);
        connect(del, &QShortcut::activated, this, [this] { ++deleteShortcuts; });
        connect(okButton, &QPushButton::clicked, this, [this] { ++okClicks; });
        resize(260, 300);
    }
    CIqList *list;
    QLineEdit *other;
    QPushButton *okButton;
    int escapeShortcuts = 0;
    int deleteShortcuts = 0;
    int okClicks = 0;
};

IqCalibrationTable ThreeRows()
{
    IqCalibrationTable t;
    t.rowCount = 3;
    t.rows[0] = {474, -35, 120};
    t.rows[1] = {594, 12, -8};
    t.rows[2] = {858, 0, 0};
    return t;
}

QStringList RowTexts(const QTreeWidget *list, int row)
{
    const QTreeWidgetItem *item = list->topLevelItem(row);
    return {item->text(0), item->text(1), item->text(2), item->text(3)};
}

} // namespace

class IqListTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void columnsAndStyle();
    void fillFollowsTheTable_data();
    void fillFollowsTheTable();
    void cellColours();

    void doubleClickOnFrequencyRetunes();
    void doubleClickOutsideTheRowsDoesNothing();
    void otherButtonsDoNotDoubleClick_data();
    void otherButtonsDoNotDoubleClick();
    void editorOpensOverTheCellWithTheValueSelected();
    void editEnds_data();
    void editEnds();
    void editorKeysNeverReachTheForm();
    void editorWidensButStaysInsideTheList();
    void f2EditsTheCurrentRow();
    void editsAreWrittenToTheDevice_data();
    void editsAreWrittenToTheDevice();

private:
    CInPlaceEdit *OpenEditor(int row, int column);

    std::unique_ptr<Form> m_form;
    IqCalibrationTable m_table;
    CXmit m_xmit;
    std::unique_ptr<CalibController> m_controller;
    QList<int> m_retunes;
    QList<QPair<QPoint, QString>> m_reports; // (row, column), text or "<none>"
};

void IqListTest::init()
{
    g_manufacturerMode = 0;
    m_table = ThreeRows();
    m_retunes.clear();
    m_reports.clear();
    m_form = std::make_unique<Form>();
    CalibHooks hooks;
    hooks.retune = [this](int khz) { m_retunes << khz; };
    m_controller =
        std::make_unique<CalibController>(m_xmit, m_table, m_form->list, m_form.get(), hooks);
    m_controller->FillIqList();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void IqListTest::cleanup()
{
    m_controller.reset();
    m_form.reset();
    m_xmit.ClosePort();
    m_xmit.m_deviceType = 0;
    g_manufacturerMode = 0;
}

CInPlaceEdit *IqListTest::OpenEditor(int row, int column)
{
    QTreeWidget *list = m_form->list;
    const QRect cell = CIqList::CellRect(list, row, column);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    auto *editor = list->viewport()->findChild<CInPlaceEdit *>();
    if (editor) {
        connect(editor, &CInPlaceEdit::endLabelEdit, this,
                [this](int r, int c, const QString &text, bool hasText) {
                    m_reports.append({QPoint(r, c), hasText ? text : QString("<none>")});
                });
    }
    return editor;
}

void IqListTest::columnsAndStyle()
{
    CIqList *list = m_form->list;
    QCOMPARE(list->objectName(), QString("iqList"));
    QCOMPARE(list->accessibleName(), QString("I/Q calibration"));
    QCOMPARE(list->columnCount(), 4);
    const QStringList titles{"", "Freq.", "dAmp", "dPhi"};
    const int widths[4] = {0, 66, 66, 68};
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(list->headerItem()->text(c), titles[c]);
        if (c > 0) {
            QCOMPARE(list->columnWidth(c), widths[c]);
            QCOMPARE(Qt::Alignment(list->headerItem()->textAlignment(c)),
                     Qt::Alignment(Qt::AlignCenter));
            QCOMPARE(Qt::Alignment(list->topLevelItem(0)->textAlignment(c)),
                     Qt::Alignment(Qt::AlignCenter));
        }
    }
    QVERIFY(list->isColumnHidden(0));
    // Nothing of the hidden column shows: the frequencies start at the left edge.
    QCOMPARE(CIqList::CellRect(list, 0, CIqList::FrequencyColumn).left(), 0);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!list->rootIsDecorated());
    // Rows and cells are there for accessibility tools, named by their values.
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QString("I/Q calibration"));
    QVERIFY(iface->tableInterface());
    QCOMPARE(iface->tableInterface()->rowCount(), 3);
    QAccessibleInterface *cell = iface->tableInterface()->cellAt(0, 2);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), QString("-35"));
}

void IqListTest::fillFollowsTheTable_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("grow from nothing") << 0 << 3;
    QTest::newRow("shrink") << 5 << 2;
    QTest::newRow("same count") << 3 << 3;
    QTest::newRow("to nothing") << 4 << 0;
    QTest::newRow("full table") << 1 << 100;
}

void IqListTest::fillFollowsTheTable()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QTreeWidget list;
    CIqList::SetUp(&list);
    IqCalibrationTable t;
    t.rowCount = before;
    for (int i = 0; i < 100; ++i)
        t.rows[size_t(i)] = {i * 8 + 474, -i, i - 10000};
    FillIqList(&list, t);
    t.rowCount = after;
    for (int i = 0; i < 100; ++i)
        t.rows[size_t(i)].dAmp = i * 3;
    FillIqList(&list, t);
    QCOMPARE(list.topLevelItemCount(), after);
    for (int i = 0; i < after; ++i)
        QCOMPARE(RowTexts(&list, i),
                 (QStringList{"", QString::number(i * 8 + 474), QString::number(i * 3),
                              QString::number(i - 10000)}));
}

void IqListTest::cellColours()
{
    CIqList *list = m_form->list;
    list->clearSelection();
    list->setCurrentItem(nullptr);
    const QImage image = list->viewport()->grab().toImage();
    const QRect freq = CIqList::CellRect(list, 0, CIqList::FrequencyColumn);
    const QRect amp = CIqList::CellRect(list, 0, CIqList::AmpColumn);
    // Corners are background; somewhere inside is the text.
    QCOMPARE(QColor(image.pixel(freq.topLeft() + QPoint(2, 2))), QColor(0xA0, 0xA0, 0xA0));
    QCOMPARE(QColor(image.pixel(amp.topLeft() + QPoint(2, 2))), QColor(0xFF, 0xFF, 0xFF));
    auto holds = [&](const QRect &r, QColor c) {
        for (int y = r.top(); y < r.bottom(); ++y)
            for (int x = r.left() + 1; x < r.right(); ++x)
                if (QColor(image.pixel(x, y)) == c)
                    return true;
        return false;
    };
    QVERIFY(holds(freq, Qt::white));
    QVERIFY(holds(amp, QColor(0x5C, 0x5C, 0x5C)));
}

void IqListTest::doubleClickOnFrequencyRetunes()
{
    QTreeWidget *list = m_form->list;
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       CIqList::CellRect(list, 1, CIqList::FrequencyColumn).center());
    QCOMPARE(m_retunes, QList<int>{594000});
    QVERIFY(!list->viewport()->findChild<CInPlaceEdit *>());
}

void IqListTest::doubleClickOutsideTheRowsDoesNothing()
{
    QTreeWidget *list = m_form->list;
    const QRect last = CIqList::CellRect(list, 2, CIqList::AmpColumn);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, last.center() + QPoint(0, 60));
    QVERIFY(m_retunes.isEmpty());
    QVERIFY(!list->viewport()->findChild<CInPlaceEdit *>());
}

void IqListTest::otherButtonsDoNotDoubleClick_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("column");
    QTest::newRow("right on Freq.") << int(Qt::RightButton) << int(CIqList::FrequencyColumn);
    QTest::newRow("right on dAmp") << int(Qt::RightButton) << int(CIqList::AmpColumn);
    QTest::newRow("middle on Freq.") << int(Qt::MiddleButton) << int(CIqList::FrequencyColumn);
    QTest::newRow("middle on dPhi") << int(Qt::MiddleButton) << int(CIqList::PhiColumn);
}

void IqListTest::otherButtonsDoNotDoubleClick()
{
    // Only the left button retunes the modulator or opens an editor.
    QFETCH(int, button);
    QFETCH(int, column);
    QTreeWidget *list = m_form->list;
    QTest::mouseDClick(list->viewport(), Qt::MouseButton(button), {},
                       CIqList::CellRect(list, 1, column).center());
    QVERIFY(m_retunes.isEmpty());
    QVERIFY(!list->viewport()->findChild<CInPlaceEdit *>());
}

void IqListTest::editorOpensOverTheCellWithTheValueSelected()
{
    CInPlaceEdit *editor = OpenEditor(0, CIqList::AmpColumn);
    QVERIFY(editor);
    QCOMPARE(editor->geometry(), CIqList::CellRect(m_form->list, 0, CIqList::AmpColumn));
    QCOMPARE(editor->text(), QString("-35"));
    QCOMPARE(editor->selectedText(), QString("-35"));
    QVERIFY(editor->hasFocus());
    QCOMPARE(editor->font(), m_form->list->font());
    QCOMPARE(editor->accessibleName(), QString("dAmp"));
    // Typing replaces the whole value.
    QTest::keyClicks(editor, "7");
    QCOMPARE(editor->text(), QString("7"));
}

void IqListTest::editEnds_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("ending"); // enter, escape, click, tab
    QTest::addColumn<QString>("report");
    QTest::addColumn<int>("stored");

    const int amp = CIqList::AmpColumn, phi = CIqList::PhiColumn;
    QTest::newRow("enter commits") << 0 << amp << "25"
                                   << "enter"
                                   << "25" << 25;
    QTest::newRow("keypad enter commits") << 1 << phi << "-7"
                                          << "keypad"
                                          << "-7" << -7;
    QTest::newRow("escape cancels") << 0 << amp << "25"
                                    << "escape"
                                    << "<none>" << -35;
    QTest::newRow("click elsewhere commits") << 2 << phi << "300"
                                             << "click"
                                             << "300" << 300;
    QTest::newRow("tab away commits") << 1 << amp << "-10000"
                                      << "tab"
                                      << "-10000" << -10000;
    QTest::newRow("not a number is 0") << 0 << phi << "abc"
                                       << "enter"
                                       << "abc" << 0;
    QTest::newRow("nothing is 0") << 1 << amp << ""
                                  << "enter"
                                  << "" << 0;
    QTest::newRow("number then junk") << 2 << amp << " 12x"
                                      << "enter"
                                      << " 12x" << 12;
}

void IqListTest::editEnds()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, ending);
    QFETCH(QString, report);
    QFETCH(int, stored);

    CInPlaceEdit *editor = OpenEditor(row, column);
    QVERIFY(editor);
    if (typed.isEmpty())
        QTest::keyClick(editor, Qt::Key_Backspace);
    else
        QTest::keyClicks(editor, typed);
    if (ending == "enter")
        QTest::keyClick(editor, Qt::Key_Return);
    else if (ending == "keypad")
        QTest::keyClick(editor, Qt::Key_Enter, Qt::KeypadModifier);
    else if (ending == "escape")
        QTest::keyClick(editor, Qt::Key_Escape);
    else if (ending == "tab")
        QTest::keyClick(editor, Qt::Key_Tab);
    else
        QTest::mouseClick(m_form->other, Qt::LeftButton);

    QTRY_VERIFY(!m_form->list->viewport()->findChild<CInPlaceEdit *>());
    QCOMPARE(m_reports.size(), 1);
    QCOMPARE(m_reports[0].first, QPoint(row, column));
    QCOMPARE(m_reports[0].second, report);
    const IqCalibrationRow &r = m_table.rows[size_t(row)];
    QCOMPARE(column == CIqList::AmpColumn ? r.dAmp : r.dPhi, stored);
    QCOMPARE(m_form->list->topLevelItem(row)->text(column), QString::number(stored));
    QCOMPARE(m_form->okClicks, 0);
    QVERIFY(m_form->isVisible());
}

void IqListTest::editorKeysNeverReachTheForm()
{
    CInPlaceEdit *editor = OpenEditor(0, CIqList::AmpColumn);
    QVERIFY(editor);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Left);
    QTest::keyClick(editor, Qt::Key_Delete);
    QCOMPARE(editor->text(), QString("-3"));
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(editor->selectedText(), QString("-3"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!m_form->list->viewport()->findChild<CInPlaceEdit *>());
    QCOMPARE(m_form->deleteShortcuts, 0);
    QCOMPARE(m_form->escapeShortcuts, 0);
    QCOMPARE(m_form->okClicks, 0);
    QCOMPARE(m_form->result(), int(QDialog::Rejected));
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_reports.size(), 1);
    QCOMPARE(m_table.rows[0].dAmp, -35);
    // Without an editor, the form's keys work as before.
    QTest::keyClick(m_form->list, Qt::Key_Delete);
    QCOMPARE(m_form->deleteShortcuts, 1);
}

void IqListTest::editorWidensButStaysInsideTheList()
{
    CIqList *list = m_form->list;
    CInPlaceEdit *editor = OpenEditor(0, CIqList::AmpColumn);
    QVERIFY(editor);
    const QRect cell = editor->geometry();
    const QFontMetrics metrics(editor->font());

    QTest::keyClicks(editor, "1");
    QCOMPARE(editor->geometry(), cell); // a short text needs no more room

    QString text = "1";
    while (metrics.horizontalAdvance(text) + 5 <= cell.width() + 20)
        text += "2";
    QTest::keyClicks(editor, text.mid(1));
    QCOMPARE(editor->width(), metrics.horizontalAdvance(text) + 5);
    QCOMPARE(editor->x(), cell.x());
    QCOMPARE(editor->y(), cell.y());
    QCOMPARE(editor->height(), cell.height());

    // Deleting never narrows it.
    const int widened = editor->width();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(editor->width(), widened);

    // A long text stops at the list's right edge.
    QTest::keyClicks(editor, QString(60, '9'));
    QCOMPARE(editor->x() + editor->width(), list->viewport()->width());
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!list->viewport()->findChild<CInPlaceEdit *>());
}

void IqListTest::f2EditsTheCurrentRow()
{
    CIqList *list = m_form->list;
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(1), CIqList::PhiColumn);
    QTest::keyClick(list, Qt::Key_F2);
    auto *editor = list->viewport()->findChild<CInPlaceEdit *>();
    QVERIFY(editor);
    QCOMPARE(editor->m_row, 1);
    QCOMPARE(editor->m_column, int(CIqList::PhiColumn));
    QCOMPARE(editor->text(), QString("-8"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!list->viewport()->findChild<CInPlaceEdit *>());
}

void IqListTest::editsAreWrittenToTheDevice_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QByteArray>("row0"); // the first row's bytes on the device
    QTest::newRow("25 in dAmp") << "25" << false << QByteArray::fromHex("DA0129278827");
    QTest::newRow("-10000 in dAmp") << "-10000" << false << QByteArray::fromHex("DA0100008827");
    QTest::newRow("escape still writes") << "25" << true << QByteArray::fromHex("DA01ED268827");
}

void IqListTest::editsAreWrittenToTheDevice()
{
    QFETCH(QString, typed);
    QFETCH(bool, escape);
    QFETCH(QByteArray, row0);

    SimulatorProcess sim;
    QTemporaryDir folder;
    QString why;
    QVERIFY2(sim.Start(QStringLiteral(VXSIM_PATH), "0x78", &why,
                       {"--hw", "3", "--transcript", folder.filePath("t.txt")}),
             qPrintable(why));
    m_xmit.SetPortPaths({sim.LinkPath()});
    QVERIFY(m_xmit.FindDevice() != 0);
    g_manufacturerMode = 1;
    m_table = {};
    m_controller->ReadIqTableFromDevice();
    QCOMPARE(m_form->list->topLevelItemCount(), 3);
    QCOMPARE(RowTexts(m_form->list, 0), (QStringList{"", "474", "-35", "120"}));

    CInPlaceEdit *editor = OpenEditor(0, CIqList::AmpColumn);
    QVERIFY(editor);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, escape ? Qt::Key_Escape : Qt::Key_Return);
    QTRY_VERIFY(!m_form->list->viewport()->findChild<CInPlaceEdit *>());

    QFile file(sim.StateFolder() + "/files/600.bin");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    QCOMPARE(image.size(), 23);
    QCOMPARE(image.left(5), QByteArray::fromHex("50465A4A03"));
    QCOMPARE(image.mid(5, 6), row0);

    QFile transcript(folder.filePath("t.txt"));
    QVERIFY(transcript.open(QIODevice::ReadOnly));
    QStringList requests;
    for (const QString &line : QString::fromLatin1(transcript.readAll()).split('\n'))
        if (line.section(' ', 1, 1) == ">")
            requests << line.section(" | ", 1);
    QCOMPARE(requests.mid(requests.size() - 4),
             (QStringList{"0xC0 open-write 600", "0xC0 write 23", "0xC0 close", "0xB0 apply"}));
}

QTEST_MAIN(IqListTest)
#include "tst_iqlist.moc"
