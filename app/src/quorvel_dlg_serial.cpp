// Serialization: the dialog that sets start number, increment, length and address, and the
// preview that shows which number each plugged target would get.
#include <algorithm>
#include <cstdio>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "programdata/address_text.h"
#include "programdata/string_table.h"
#include "target_cells.h"

namespace {

constexpr int kSerialColumn = 2;
constexpr size_t kShownSerialDigits = 32;

}  // namespace

bool CQuorvelDlg::SerialFieldsValidator::Accept(const SerializationState& fields) {
    SerialFields parsed;
    const uint32_t failed = dlg_.ParseSerialFields(fields, parsed);
    if (failed == 0)
        return true;
    dlg_.ShowError(failed);
    return false;
}

uint32_t CQuorvelDlg::ParseSerialFields(const SerializationState& fields, SerialFields& out) {
    const uint16_t length = uint16_t(std::clamp(fields.length, 1, int(kByteFieldSize)));
    out.length = length;
    // Each number may not need more bytes than the length the operator chose.
    auto parse = [length](const std::string& text, std::array<uint8_t, kByteFieldSize>& bytes) {
        uint32_t parsed = length;
        if (!ParseHexBytes(text, bytes, parsed) || parsed > length)
            return false;
        std::fill(bytes.begin() + length, bytes.end(), uint8_t{0});
        return true;
    };
    if (fields.startSerial.empty())
        return IDS_EMPTY_ENTRY_FIELD;
    if (!parse(fields.startSerial, out.serial))
        return IDS_ILLEGAL_START_SERIAL;
    if (fields.address.empty())
        return IDS_EMPTY_ENTRY_FIELD;
    if (!programdata::ParseAddressText(fields.address, out.address))
        return IDS_ILLEGAL_SERIAL_ADDRESS;
    if (fields.increment.empty())
        return IDS_EMPTY_ENTRY_FIELD;
    if (!parse(fields.increment, out.increment))
        return IDS_ILLEGAL_INCREMENT;
    out.serialOn = fields.serialOn;
    return 0;
}

SerializationState CQuorvelDlg::SerializationFields() const {
    SerializationState state;
    state.serialOn = settings_.serialOn != 0;
    state.startSerial = FormatHexBytes(settings_.serialNumber, settings_.serialLength);
    char address[16];
    std::snprintf(address, sizeof address, "%X", settings_.serialAddress);
    state.address = address;
    state.increment = FormatHexBytes(settings_.increment, settings_.incrementLength);
    state.length = settings_.serialLength;
    return state;
}

void CQuorvelDlg::OnSerialization() {
    SerialFieldsValidator validator(*this);
    const SerializationResult result =
        view_.RunSerializationDialog(SerializationFields(), validator);
    if (result.button != IDOK)
        return;
    // The dialog closes only on fields the validator accepted; parse them once more to keep
    // every value this dialog stores checked here.
    SerialFields parsed;
    if (ParseSerialFields(result.fields, parsed) != 0)
        return;
    settings_.serialOn = parsed.serialOn ? 1 : 0;
    settings_.serialAddress = parsed.address;
    settings_.serialLength = parsed.length;
    settings_.incrementLength = parsed.length;
    settings_.serialNumber = parsed.serial;
    settings_.increment = parsed.increment;
    serialOverlapConfirmed_ = 0;
    view_.SetControlText(IDC_WRITE, settings_.serialOn ? kWriteWithSerialCaption : kWriteCaption);
    // The operator's number starts the session's numbers afresh, also below the stored one.
    SaveSerialSettings(true);
    serialSession_ = FreshSerialSession();
    AssignSerialPreview();
    if (settings_.serialOn == 0 || !settingsFile_.ReadSerialNumberText(serialText_))
        serialText_.clear();
    UpdateData(false);
}

void CQuorvelDlg::AssignSerialPreview() {
    const int count = targets::Count();
    if (count == 0)
        return;
    const int rows = view_.ListRowCount(IDC_CONNECTION_LIST);
    if (settings_.serialOn == 0) {
        for (int row = 0; row < rows; ++row)
            view_.ListSetCell(IDC_CONNECTION_LIST, row, kSerialColumn, "");
        view_.SetControlText(IDC_WRITE, kWriteCaption);
        return;
    }
    std::array<uint8_t, kByteFieldSize> next = settings_.serialNumber;
    for (int n = 1; n <= count; ++n) {
        std::string shown;
        if (targets::Plugged(n)) {
            shown = Rightmost(FormatHexBytes(next, settings_.serialLength), kShownSerialDigits);
            if (!InConnectionCheck())
                ApiSetSerialNumber(n, next.data(), settings_.serialLength);
            AddSerialIncrement(next, settings_.serialLength, settings_.increment,
                               settings_.incrementLength);
        }
        if (n - 1 < rows)
            view_.ListSetCell(IDC_CONNECTION_LIST, n - 1, kSerialColumn, shown);
    }
    view_.SetControlText(IDC_WRITE, kWriteWithSerialCaption);
}
