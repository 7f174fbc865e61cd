#include "calib/CInPlaceEdit.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>

namespace {

bool IsEditorKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Delete:
        return true;
    default:
        return event->modifiers().testFlag(Qt::ControlModifier);
    }
}

} // namespace

CInPlaceEdit::CInPlaceEdit(int row, int column, const QString &startText)
    : m_row(row), m_column(column), m_startText(startText)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("inPlaceEdit"));
    setFrame(true);
}

bool CInPlaceEdit::Create(QAbstractItemView *list, const QRect &cell)
{
    if (!list)
        return false;
    m_list = list;
    setParent(list->viewport());
    setAccessibleName(list->model()->headerData(m_column, Qt::Horizontal).toString());
    setFont(list->font());
    setTextMargins(0, 0, 0, 0);
    setGeometry(cell);
    setText(m_startText);
    show();
    setFocus(Qt::OtherFocusReason);
    selectAll();
    // Grows from here on, never at opening.
    connect(this, &QLineEdit::textChanged, this, &CInPlaceEdit::Grow);
    return true;
}

bool CInPlaceEdit::event(QEvent *event)
{
    // Claim these keys before any shortcut of the window can take them.
    if (event->type() == QEvent::ShortcutOverride && IsEditorKey(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void CInPlaceEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (key == Qt::Key_Escape)
            m_cancelled = true;
        // Handing the focus back ends the edit; without an active window no
        // focus event comes, so the edit is ended here as well.
        if (m_list)
            m_list->setFocus(Qt::OtherFocusReason);
        Finish();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    // Whatever the line edit left alone must not travel on to the form.
    event->accept();
}

void CInPlaceEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Its own context menu does not end the edit.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    Finish();
}

void CInPlaceEdit::Grow()
{
    if (!m_list)
        return;
    const int needed = QFontMetrics(font()).horizontalAdvance(text()) + kGrowMargin;
    if (needed <= width())
        return;
    const int rightEdge = m_list->viewport()->width();
    const int newWidth = std::min(needed, rightEdge - x());
    if (newWidth > width()) {
        resize(newWidth, height());
        update();
    }
}

void CInPlaceEdit::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    const QString current = text();
    emit endLabelEdit(m_row, m_column, m_cancelled ? QString() : current, !m_cancelled);
    hide();
    deleteLater();
}
