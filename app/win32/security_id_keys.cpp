#include "security_id_keys.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr char kBlank = ' ';
const std::string kAllBlank(SecurityIdKeys::kPositions, kBlank);

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

}  // namespace

SecurityIdKeys::SecurityIdKeys() {
    text_.fill(kAllBlank);
}

void SecurityIdKeys::SetText(int field, std::string_view text) {
    std::string canonical(kAllBlank);
    for (size_t i = 0; i < canonical.size() && i < text.size(); ++i)
        canonical[i] = IsHexDigit(text[i]) ? Upper(text[i]) : kBlank;
    text_[static_cast<size_t>(field)] = canonical;
}

void SecurityIdKeys::SetCaret(int field, int caret, int selectionEnd) {
    field_ = std::clamp(field, 0, kFields - 1);
    caret_ = std::clamp(caret, 0, kPositions);
    selectionEnd_ = selectionEnd > caret_ ? std::min(selectionEnd, kPositions) : -1;
}

void SecurityIdKeys::MoveTo(int field, int caret) {
    field_ = field;
    caret_ = caret;
    selectionEnd_ = -1;
}

bool SecurityIdKeys::BlankSelection() {
    if (selectionEnd_ < 0)
        return false;
    std::string& t = text_[static_cast<size_t>(field_)];
    for (int i = caret_; i < selectionEnd_; ++i)
        t[static_cast<size_t>(i)] = kBlank;
    selectionEnd_ = -1;
    return true;
}

bool SecurityIdKeys::Type(char c) {
    if (!IsHexDigit(c))
        return false;
    // The caret behind the last position: the digit starts the next field.
    if (selectionEnd_ < 0 && caret_ == kPositions) {
        if (field_ + 1 == kFields)
            return false;
        MoveTo(field_ + 1, 0);
    }
    BlankSelection();
    text_[static_cast<size_t>(field_)][static_cast<size_t>(caret_)] = Upper(c);
    ++caret_;
    if (caret_ == kPositions && field_ + 1 < kFields)
        MoveTo(field_ + 1, 0);
    return true;
}

void SecurityIdKeys::Backspace() {
    if (BlankSelection())
        return;
    if (caret_ == 0) {
        if (field_ > 0)
            MoveTo(field_ - 1, kPositions);
        return;
    }
    --caret_;
    text_[static_cast<size_t>(field_)][static_cast<size_t>(caret_)] = kBlank;
}

void SecurityIdKeys::Delete() {
    if (!BlankSelection() && caret_ < kPositions)
        text_[static_cast<size_t>(field_)][static_cast<size_t>(caret_)] = kBlank;
}

void SecurityIdKeys::Left() {
    if (selectionEnd_ >= 0)
        MoveTo(field_, caret_);
    else if (caret_ > 0)
        --caret_;
    else if (field_ > 0)
        MoveTo(field_ - 1, kPositions);
}

void SecurityIdKeys::Right() {
    if (selectionEnd_ >= 0)
        MoveTo(field_, selectionEnd_);
    else if (caret_ < kPositions)
        ++caret_;
    else if (field_ + 1 < kFields)
        MoveTo(field_ + 1, 0);
}

SecurityIdKeys::Leave SecurityIdKeys::Tab(bool backward) {
    if (backward) {
        if (field_ == 0)
            return Leave::Before;
        MoveTo(field_ - 1, kPositions);
    } else {
        if (field_ + 1 == kFields)
            return Leave::After;
        MoveTo(field_ + 1, 0);
    }
    return Leave::None;
}

bool SecurityIdKeys::Paste(std::string_view pasted) {
    std::string digits;
    for (char c : pasted) {
        if (IsHexDigit(c))
            digits += Upper(c);
        else if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '-' && c != ':')
            return false;
    }
    const int room = (kFields - field_) * kPositions - caret_;
    if (digits.empty() || static_cast<int>(digits.size()) > room)
        return false;
    BlankSelection();
    int field = field_, position = caret_;
    for (char digit : digits) {
        if (position == kPositions) {
            ++field;
            position = 0;
        }
        text_[static_cast<size_t>(field)][static_cast<size_t>(position++)] = digit;
    }
    // The caret ends behind the last digit, at the start of the next field where one is full.
    if (position == kPositions && field + 1 < kFields)
        MoveTo(field + 1, 0);
    else
        MoveTo(field, position);
    return true;
}
