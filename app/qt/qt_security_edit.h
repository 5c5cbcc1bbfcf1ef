#pragma once
// One word of a security ID: a masked field of four hexadecimal positions, shown upper case,
// an empty position shown as a blank. Typing overwrites the position at the caret, so the
// field always holds exactly four characters and a digit never shifts into another position.
// The twelve fields of an ID behave as one line: typing, the arrows, Backspace, Tab and a
// pasted ID run on across field boundaries, and Enter presses OK.
#include <QLineEdit>

class QAbstractButton;

class CSecurityEdit : public QLineEdit {
    Q_OBJECT

  public:
    static constexpr int kPositions = 4;

    explicit CSecurityEdit(QWidget* parent = nullptr);

    // Where the keyboard leads from this field. previous/next: the neighbouring fields (null
    // at the ends); before/after: what Shift+Tab before the first and Tab after the last field
    // reach; enter: the button that Enter presses.
    struct Links {
        CSecurityEdit* previous = nullptr;
        CSecurityEdit* next = nullptr;
        QWidget* before = nullptr;
        QWidget* after = nullptr;
        QAbstractButton* enter = nullptr;
    };
    void SetLinks(const Links& links) { links_ = links; }

    // Writes the hexadecimal digits of text from the caret on, running on into the following
    // fields; blanks, "-" and ":" between them are skipped. Nothing changes, and the answer is
    // false, when text holds anything else or more digits than there are positions left.
    bool PasteDigits(const QString& text);

    // Gives this field the focus with the caret at position (no selection).
    void EnterAt(int position);

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Types one character at the caret; false when it is refused.
    bool Type(QChar c);
    // Clears the selection's positions; the caret goes to its start. False without one.
    bool BlankSelection();
    void SetPosition(int position, QChar c);
    // Holds the text to four upper-case digits or blanks whatever changed it.
    void Normalise();

    Links links_;
};
