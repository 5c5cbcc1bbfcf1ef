#include "support/fake_dialog_view.h"

#include <gtest/gtest.h>

#include "programdata/string_table.h"

namespace {

template <class T>
T PopOr(std::deque<T>& queue, T fallback) {
    if (queue.empty())
        return fallback;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}

}  // namespace

int FakeDialogView::CountMessages(uint32_t id) const {
    int n = 0;
    for (const ShownMessage& m : messages)
        if (m.id == id)
            ++n;
    return n;
}

DialogResult FakeDialogView::RunModal(DialogEvents& events) {
    events_ = &events;
    ended = false;
    initResult = events.OnInitDialog();
    shown = !ended;
    while (!ended && !actions.empty()) {
        Action action = std::move(actions.front());
        actions.pop_front();
        action(events);
    }
    events.OnDestroy();
    destroyed = true;
    events_ = nullptr;
    return endResult;
}

void FakeDialogView::EndDialog(DialogResult result) {
    ended = true;
    endResult = result;
}

void FakeDialogView::AppendSystemMenuItem(int command, const std::string& text) {
    systemMenu.emplace_back(command, text);
}

void FakeDialogView::SetWindowSize(int widthPx, int heightPx) {
    windowWidth = widthPx;
    windowHeight = heightPx;
}

void FakeDialogView::SetFocus(int id) {
    for (auto& [cid, control] : controls)
        control.focused = false;
    controls[id].focused = true;
}

void FakeDialogView::ComboReset(int id) {
    controls[id].items.clear();
    controls[id].curSel = -1;
}

void FakeDialogView::ComboAddString(int id, const std::string& text) {
    controls[id].items.push_back(text);
}

void FakeDialogView::ComboSetCurSel(int id, int index) {
    FakeControl& c = controls[id];
    c.curSel = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
    c.text = c.curSel >= 0 ? c.items[c.curSel] : std::string();
}

void FakeDialogView::ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) {
    FakeControl& c = controls[id];
    c.gridLines = gridLines;
    c.checkBoxes = checkBoxes;
    c.fullRowSelect = fullRowSelect;
}

void FakeDialogView::ListAddColumn(int id, const std::string& header, int extraWidth) {
    controls[id].columns.emplace_back(header, extraWidth);
}

void FakeDialogView::ListDeleteAllRows(int id) {
    controls[id].rows.clear();
    controls[id].selected.clear();
}

void FakeDialogView::ListInsertRow(int id, int row, const std::string& firstCell) {
    auto& rows = controls[id].rows;
    ASSERT_GE(row, 0);
    ASSERT_LE(row, static_cast<int>(rows.size())) << "row inserted past the end of list " << id;
    FakeRow r;
    r.cells.push_back(firstCell);
    rows.insert(rows.begin() + row, r);
}

void FakeDialogView::ListDeleteRow(int id, int row) {
    auto& rows = controls[id].rows;
    ASSERT_TRUE(row >= 0 && row < static_cast<int>(rows.size())) << "no row " << row;
    rows.erase(rows.begin() + row);
}

FakeRow* FakeDialogView::Row(int id, int row) {
    auto& rows = controls[id].rows;
    if (row < 0 || row >= static_cast<int>(rows.size())) {
        ADD_FAILURE() << "list " << id << " has no row " << row;
        return nullptr;
    }
    return &rows[row];
}

void FakeDialogView::ListSetCell(int id, int row, int column, const std::string& text) {
    FakeRow* r = Row(id, row);
    if (r == nullptr)
        return;
    if (static_cast<int>(r->cells.size()) <= column)
        r->cells.resize(column + 1);
    r->cells[column] = text;
}

std::string FakeDialogView::ListGetCell(int id, int row, int column) {
    FakeRow* r = Row(id, row);
    if (r == nullptr || column >= static_cast<int>(r->cells.size()))
        return {};
    return r->cells[column];
}

void FakeDialogView::ListSetRowCheck(int id, int row, bool checked) {
    FakeRow* r = Row(id, row);
    if (r == nullptr || r->checked == checked)
        return;
    r->checked = checked;
    // A list view reports every change of a check box, its own as well as the operator's.
    if (events_ != nullptr && controls[id].checkBoxes)
        events_->OnListCheckChanged(id, row, checked);
}

bool FakeDialogView::ListGetRowCheck(int id, int row) {
    FakeRow* r = Row(id, row);
    return r != nullptr && r->checked;
}

int FakeDialogView::TrackPopupMenu(const std::vector<MenuItemSpec>& items) {
    popupMenus.push_back(items);
    return PopOr(popupAnswers, 0);
}

DialogResult FakeDialogView::MessageBox(const MessageBoxSpec& box) {
    DialogResult answer = box.buttons == MsgButtons::Ok ? 1 : PopOr(messageAnswers, defaultAnswer);
    messages.push_back({box.text, box.caption, box.icon, box.buttons, answer, box.id});
    return answer;
}

std::optional<std::string> FakeDialogView::OpenFileDialog(const FileDialogSpec& dialog) {
    fileDialogs.push_back(dialog);
    return PopOr<std::optional<std::string>>(fileDialogAnswers, std::nullopt);
}

std::optional<std::string> FakeDialogView::SaveFileDialog(const FileDialogSpec& dialog) {
    fileDialogs.push_back(dialog);
    return PopOr<std::optional<std::string>>(fileDialogAnswers, std::nullopt);
}

SelectTargetResult FakeDialogView::RunSelectTargetDialog(const SelectTargetRequest& request) {
    selectTargetRequests.push_back(request);
    return PopOr(selectTargetAnswers, SelectTargetResult{2, {}});
}

SerializationResult FakeDialogView::RunSerializationDialog(const SerializationState& initial,
                                                           SerializationValidator& validator) {
    serializationRequests.push_back(initial);
    // Scripted OK answers go through the validator as the real dialog's OK does; a refused one
    // keeps the dialog open for the next scripted answer.
    while (!serializationAnswers.empty()) {
        SerializationResult r = PopOr(serializationAnswers, SerializationResult{});
        if (r.button != 1 || validator.Accept(r.fields))
            return r;
    }
    return {2, initial};
}

SecurityIdResult FakeDialogView::RunSecurityIdDialog(const SecurityIdRequest& request) {
    securityIdRequests.push_back(request);
    SecurityIdResult unplug;
    unplug.button = 2;
    return PopOr(securityIdAnswers, unplug);
}

void FakeDialogView::RunProgramFileDialog(ProgramFileDialogHost& host) {
    while (!programFileDialogActions.empty()) {
        auto action = std::move(programFileDialogActions.front());
        programFileDialogActions.pop_front();
        action(host);
    }
}

AddHexFileResult FakeDialogView::RunAddHexFileDialog(const FileDialogSpec& browse) {
    return PopOr(addHexFileAnswers, AddHexFileResult{2, {}, {}});
}

void FakeDialogView::PumpMessages() {
    ++pumps;
    if (events_ == nullptr || pumpActions.empty())
        return;
    Action action = std::move(pumpActions.front());
    pumpActions.pop_front();
    action(*events_);
}
