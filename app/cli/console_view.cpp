#include "console_view.h"

#include <cstdio>

#include "app/control_ids.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"

ConsoleView::ConsoleView(ConsoleAnswers answers, ConsoleReport& report)
    : answers_(std::move(answers)), report_(report) {}

void ConsoleView::OnOperationStart(int operation) {
    if (operation == programdata::kOperationPlug)
        idTried_.clear();
}

DialogResult ConsoleView::RunModal(DialogEvents& events) {
    ended_ = false;
    initialised_ = events.OnInitDialog() && !ended_;
    if (initialised_ && session)
        session();
    events.OnDestroy();
    return result_;
}

void ConsoleView::EndDialog(DialogResult result) {
    ended_ = true;
    result_ = result;
}

void ConsoleView::ComboAddString(int id, const std::string& text) {
    controls_[id].items.push_back(text);
}

void ConsoleView::ComboSetCurSel(int id, int index) {
    Control& c = controls_[id];
    c.curSel = index >= 0 && index < int(c.items.size()) ? index : -1;
    c.text = c.curSel >= 0 ? c.items[size_t(c.curSel)] : std::string();
}

void ConsoleView::ListDeleteRow(int id, int row) {
    Control& c = controls_[id];
    if (row >= 0 && row < c.rows)
        --c.rows;
}

DialogResult ConsoleView::MessageBox(const MessageBoxSpec& box) {
    // A line runs what it was given: program data the flash cannot hold stops the run before
    // anything is plugged, unless the engineer said it may be dropped.
    if (box.id == IDS_DATA_OUTSIDE_FLASH && !answers_.allowOutside) {
        report_.Message(box.caption, box.id, MsgIcon::Error,
                        box.text + " (--allow-outside drops that data)", std::nullopt, box.file);
        return IDOK;
    }
    if (box.buttons == MsgButtons::Ok) {
        report_.Message(box.caption, box.id, box.icon, box.text, std::nullopt, box.file);
        return IDOK;
    }
    // Questions answer Cancel, the safe way out, unless a flag says otherwise.
    const DialogResult answer =
        answers_.yes && box.id == IDS_SERIAL_AREA_OVERLAPS_FILES ? IDOK : IDCANCEL;
    report_.Message(box.caption, box.id, box.icon, box.text, answer, box.file);
    return answer;
}

SelectTargetResult ConsoleView::RunSelectTargetDialog(const SelectTargetRequest&) {
    return {IDCANCEL, {}};
}

SerializationResult ConsoleView::RunSerializationDialog(const SerializationState& initial,
                                                        SerializationValidator&) {
    report_.Note("Serialization dialog: Cancel");
    return {IDCANCEL, initial};
}

AddHexFileResult ConsoleView::RunAddHexFileDialog(const FileDialogSpec&) {
    return {IDCANCEL, {}, {}};
}

SecurityIdResult ConsoleView::RunSecurityIdDialog(const SecurityIdRequest& request) {
    SecurityIdResult result;
    result.fields.fill("    ");
    const std::string target = "target " + std::to_string(request.target);
    if (answers_.securityId && idTried_.insert(request.target).second) {
        report_.Note("Security ID: " + target + " is locked; sending the ID of " +
                     answers_.securityIdSource);
        result.button = IDOK;
        result.choice = 0;
        for (size_t i = 0; i < answers_.securityId->size() && i < result.fields.size(); ++i) {
            char word[8];
            std::snprintf(word, sizeof word, "%04X", unsigned((*answers_.securityId)[i]));
            result.fields[i] = word;
        }
        return result;
    }
    if (answers_.allowInitialize && request.initializeAllowed) {
        report_.Note("Security ID: " + target +
                     " is locked; initializing: every plugged chip's flash and security "
                     "setting are erased");
        result.button = IDOK;
        result.choice = 1;
        return result;
    }
    report_.Note("Security ID: " + target + " is locked; skipped");
    result.button = IDSKIP;
    return result;
}

void ConsoleView::PumpMessages() {
    if (cancelPending && cancelPending() && cancel)
        cancel();
}
