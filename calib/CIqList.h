#pragma once

#include "calib/IqCalibration.h"

#include <QRect>
#include <QTreeWidget>

// The I/Q calibration list: one row per table row, a hidden first column,
// then "Freq.", "dAmp" and "dPhi", centred, with grid lines and whole-row
// selection. Frequencies are drawn white on grey, corrections dark grey on
// white. The list never edits by itself: a double-click is reported, and its
// owner decides (retune, or open an in-place editor).
class CIqList : public QTreeWidget
{
    Q_OBJECT

public:
    enum Column { HiddenColumn = 0, FrequencyColumn = 1, AmpColumn = 2, PhiColumn = 3 };
    static constexpr int kColumnWidths[4] = {0, 66, 66, 68};

    explicit CIqList(QWidget *parent = nullptr);

    // Sets columns, styles and the cell painter on any tree widget, so that
    // a list made elsewhere (a form's placeholder) can be adopted as it is.
    static void SetUp(QTreeWidget *list);

    // Bounds of a cell in the list's viewport (its client area).
    static QRect CellRect(const QTreeWidget *list, int row, int column);

signals:
    // A left double-click; row is -1 when it hit no row.
    void cellDoubleClicked(int row, int column);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    // F2 edits the current row's correction (dAmp unless dPhi is current),
    // for those who do not use the mouse.
    void keyPressEvent(QKeyEvent *event) override;
};

// Makes the list show the table: items are removed or added at the top until
// the counts agree, then every row's three numbers are written.
void FillIqList(QTreeWidget *list, const IqCalibrationTable &table);
