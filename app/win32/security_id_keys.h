#pragma once
// The twelve word fields of the Security ID dialog as the keyboard sees them: four positions
// each, a hexadecimal digit (upper case) or a blank in every position. Typing overwrites the
// position at the caret, so a digit never shifts into another position, and the caret runs on
// across the fields: typing the fourth digit, Right at the end, Left or Backspace at the start
// and Tab lead to the neighbouring field. No windows here: the dialog feeds keys in and shows
// the texts and the caret that come out.
#include <array>
#include <string>
#include <string_view>

class SecurityIdKeys {
  public:
    static constexpr int kFields = 12;
    static constexpr int kPositions = 4;

    SecurityIdKeys();

    const std::string& Text(int field) const { return text_[static_cast<size_t>(field)]; }
    // Holds a field to four upper-case digits or blanks, whatever was put there.
    void SetText(int field, std::string_view text);
    int Field() const { return field_; }
    int Caret() const { return caret_; }
    // Where the caret is, with the selected positions [caret, selectionEnd) of that field.
    void SetCaret(int field, int caret, int selectionEnd = -1);

    // One typed character: false (and nothing changes) when it is no hexadecimal digit or no
    // position is left.
    bool Type(char c);
    void Backspace();
    void Delete();
    void Left();
    void Right();
    // Tab and Shift+Tab: the next or previous field, or where the focus leaves the fields.
    enum class Leave { None, Before, After };
    Leave Tab(bool backward);
    // Hexadecimal digits from the caret on, into the following fields; blanks, "-" and ":"
    // between them are skipped. False, and nothing changes, for any other character or more
    // digits than positions are left.
    bool Paste(std::string_view text);
    // Blanks the selected positions; false without a selection.
    bool BlankSelection();

  private:
    void MoveTo(int field, int caret);

    std::array<std::string, kFields> text_;
    int field_ = 0;
    int caret_ = 0;
    int selectionEnd_ = -1;  // -1: no selection
};
