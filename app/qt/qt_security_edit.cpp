#include "qt_security_edit.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>

namespace {

constexpr QChar kBlank = u' ';

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Keys that would shift characters within the field; a masked field has no use for them.
bool IsShiftingEdit(QKeyEvent* event) {
    for (QKeySequence::StandardKey key :
         {QKeySequence::Undo, QKeySequence::Redo, QKeySequence::DeleteStartOfWord,
          QKeySequence::DeleteEndOfWord, QKeySequence::DeleteEndOfLine,
          QKeySequence::DeleteCompleteLine, QKeySequence::Backspace})
        if (event->matches(key))
            return true;
    return false;
}

}  // namespace

CSecurityEdit::CSecurityEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(kPositions);
    setText(QString(kPositions, kBlank));
    setCursorPosition(0);
    // Dropped text would shift the positions.
    setAcceptDrops(false);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(14);
    setFont(font);
    // Room for four digits and the caret behind the last.
    const QFontMetrics metrics(font);
    setFixedWidth(metrics.horizontalAdvance(QString(kPositions + 1, u'W')) + 10);
    connect(this, &QLineEdit::textChanged, this, [this] { Normalise(); });
}

void CSecurityEdit::Normalise() {
    QString canonical = text().left(kPositions).toUpper();
    for (QChar& c : canonical)
        if (!IsHexDigit(c))
            c = kBlank;
    canonical = canonical.leftJustified(kPositions, kBlank);
    if (canonical != text()) {
        const int caret = cursorPosition();
        setText(canonical);
        setCursorPosition(caret);
    }
}

void CSecurityEdit::EnterAt(int position) {
    setFocus(Qt::OtherFocusReason);
    deselect();
    setCursorPosition(position);
}

void CSecurityEdit::SetPosition(int position, QChar c) {
    QString t = text();
    t[position] = c.toUpper();
    setText(t);
}

bool CSecurityEdit::BlankSelection() {
    if (!hasSelectedText())
        return false;
    const int start = selectionStart();
    const int end = std::min(kPositions, start + static_cast<int>(selectedText().size()));
    QString t = text();
    for (int i = start; i < end; ++i)
        t[i] = kBlank;
    setText(t);
    setCursorPosition(start);
    return true;
}

bool CSecurityEdit::Type(QChar c) {
    if (!IsHexDigit(c))
        return false;
    BlankSelection();
    const int caret = cursorPosition();
    if (caret >= kPositions) {
        // The caret behind the last position: the digit starts the next field.
        if (links_.next == nullptr)
            return false;
        links_.next->EnterAt(0);
        return links_.next->Type(c);
    }
    SetPosition(caret, c);
    setCursorPosition(caret + 1);
    if (caret + 1 == kPositions && links_.next != nullptr)
        links_.next->EnterAt(0);
    return true;
}

bool CSecurityEdit::PasteDigits(const QString& pasted) {
    QString digits;
    for (QChar c : pasted) {
        if (IsHexDigit(c))
            digits += c.toUpper();
        else if (!c.isSpace() && c != u'-' && c != u':')
            return false;
    }
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    int room = kPositions - start;
    for (CSecurityEdit* f = links_.next; f != nullptr; f = f->links_.next)
        room += kPositions;
    if (digits.isEmpty() || digits.size() > room)
        return false;

    BlankSelection();
    CSecurityEdit* field = this;
    int position = start;
    for (QChar digit : digits) {
        if (position == kPositions) {
            field = field->links_.next;
            position = 0;
        }
        field->SetPosition(position++, digit);
    }
    // The caret ends behind the last digit, at the start of the next field where one is full.
    if (position == kPositions && field->links_.next != nullptr)
        field->links_.next->EnterAt(0);
    else
        field->EnterAt(position);
    return true;
}

bool CSecurityEdit::event(QEvent* event) {
    // Tab and Shift+Tab run along the fields before the dialog's focus chain sees them.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        const bool backward = key->key() == Qt::Key_Backtab ||
                              (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (plain && backward) {
            if (links_.previous != nullptr)
                links_.previous->EnterAt(kPositions);
            else if (links_.before != nullptr)
                links_.before->setFocus(Qt::BacktabFocusReason);
            return true;
        }
        if (plain && key->key() == Qt::Key_Tab) {
            if (links_.next != nullptr)
                links_.next->EnterAt(0);
            else if (links_.after != nullptr)
                links_.after->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CSecurityEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Reached by the focus chain: the caret waits at the first empty position, where typing
    // goes on, rather than behind a selection that the first digit would wipe.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason) {
        deselect();
        setCursorPosition(std::max(0, static_cast<int>(text().indexOf(kBlank))));
    }
}

void CSecurityEdit::keyPressEvent(QKeyEvent* event) {
    const int caret = cursorPosition();
    const bool selecting = (event->modifiers() & Qt::ShiftModifier) || hasSelectedText();
    if (event->matches(QKeySequence::Paste)) {
        PasteDigits(QApplication::clipboard()->text());
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        copy();
        BlankSelection();
        return;
    }
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (links_.enter != nullptr && links_.enter->isEnabled())
                links_.enter->click();
            return;
        case Qt::Key_Escape:
            // Left to the dialog.
            event->ignore();
            return;
        case Qt::Key_Left:
            if (caret == 0 && !selecting && links_.previous != nullptr) {
                links_.previous->EnterAt(kPositions);
                return;
            }
            break;
        case Qt::Key_Right:
            if (caret == kPositions && !selecting && links_.next != nullptr) {
                links_.next->EnterAt(0);
                return;
            }
            break;
        case Qt::Key_Backspace:
            if (BlankSelection())
                return;
            if (caret == 0) {
                if (links_.previous != nullptr)
                    links_.previous->EnterAt(kPositions);
            } else {
                SetPosition(caret - 1, kBlank);
                setCursorPosition(caret - 1);
            }
            return;
        case Qt::Key_Delete:
            if (!BlankSelection() && caret < kPositions) {
                SetPosition(caret, kBlank);
                setCursorPosition(caret);
            }
            return;
        default:
            break;
    }
    if (IsShiftingEdit(event))
        return;
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.front().isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // Anything but a hexadecimal digit is refused.
        for (QChar c : typed)
            if (!Type(c))
                break;
        return;
    }
    // Caret movement, selection and copy as in any field.
    QLineEdit::keyPressEvent(event);
}

void CSecurityEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Composed text arrives as if typed; a composition in progress is not shown.
    for (QChar c : event->commitString())
        if (!Type(c))
            break;
    event->accept();
}

void CSecurityEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The edit's own menu would insert and shift; these go through the field's rules.
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &QLineEdit::copy);
    copyAction->setEnabled(hasSelectedText());
    const QString clip = QApplication::clipboard()->text();
    menu.addAction(tr("&Paste"), this, [this, clip] { PasteDigits(clip); });
    menu.addAction(tr("Select All"), this, &QLineEdit::selectAll);
    menu.exec(event->globalPos());
}
