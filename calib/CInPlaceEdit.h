#pragma once

#include <QLineEdit>
#include <QPointer>

class QAbstractItemView;

// A one-edit editor laid over one cell of a list. It opens with the cell's
// text selected, grows to the right while the text grows, and reports once,
// when it loses the keyboard focus: Enter and a click elsewhere hand back the
// text, Escape hands back none. It then deletes itself; whoever created it
// keeps no pointer. Enter, Escape, Delete and Ctrl keys stay with the editor
// and never reach the form around the list.
class CInPlaceEdit : public QLineEdit
{
    Q_OBJECT

public:
    // Room kept to the right of the text when the editor grows.
    static constexpr int kGrowMargin = 5;

    CInPlaceEdit(int row, int column, const QString &startText);

    // Places the editor over cell (in the list's viewport coordinates) as a
    // child of the viewport, in the list's font, with the text selected and
    // the focus taken. False when there is no list to sit in.
    bool Create(QAbstractItemView *list, const QRect &cell);

    const int m_row;
    const int m_column;
    const QString m_startText;
    bool m_cancelled = false;

signals:
    // Sent exactly once. hasText is false when the edit was cancelled.
    void endLabelEdit(int row, int column, const QString &text, bool hasText);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void Grow();
    void Finish();

    QPointer<QAbstractItemView> m_list;
    bool m_finished = false;
};
