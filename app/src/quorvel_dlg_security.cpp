// The security ID check inside Plug: each protected target is unlocked with the remembered ID,
// or with one the operator types, or skipped, or erased together with its security setting.
#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

namespace {

// A stored size of 0 means the four bytes of the oldest adapters' IDs.
constexpr uint32_t kDefaultSecurityIdBytes = 4;
// Initialize leaves the chips with an all-ones ID of twelve words.
constexpr uint32_t kErasedSecurityIdBytes = 24;

// 0 or "Security ID Check": the adapter itself answered; anything else is a failure.
bool AdapterAnswered(int target) {
    const int status = targets::Status(target);
    return status == FLASH_OK || status == FLASH_PROTECTED;
}

std::vector<uint16_t> WordsOf(const uint8_t* bytes, uint32_t byteCount) {
    std::vector<uint16_t> words(byteCount / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    return words;
}

bool AllBlank(const std::string& field) {
    return field.find_first_not_of(' ') == std::string::npos;
}

int SendId(int target, const std::vector<uint16_t>& words, uint16_t& protect) {
    targets::SetStatus(target, FLASH_OK);
    return ApiObj.SetSecID(target, uint8_t(words.size()), words.data(), protect);
}

}  // namespace

std::vector<uint16_t> TypedSecurityIdWords(const std::array<std::string, 12>& fields) {
    std::vector<uint16_t> words;
    for (const std::string& typed : fields) {
        if (AllBlank(typed))
            break;
        std::string field = typed;
        std::replace(field.begin(), field.end(), ' ', '0');
        uint16_t word = 0;
        const char* end = field.data() + field.size();
        const auto [stop, error] = std::from_chars(field.data(), end, word, 16);
        if (field.size() != 4 || error != std::errc() || stop != end)
            break;
        words.push_back(word);
    }
    return words;
}

bool CQuorvelDlg::SecurityCheck() {
    WarnIfSecurityIdReadable();
    protection_.fill(Protection::Unknown);
    const int count = targets::Count();
    for (int n = 1; n <= count; ++n) {
        switch (CheckTargetSecurity(n, count)) {
            case SecurityVerdict::Unplug:
                return false;
            case SecurityVerdict::Initialized:
                return true;
            case SecurityVerdict::Next:
                break;
        }
        ShowTargetStatus(n, programdata::kOperationPlug);
        ApiUpdateErrorTargetLED(n);
    }
    return true;
}

CQuorvelDlg::SecurityVerdict CQuorvelDlg::CheckTargetSecurity(int n, int count) {
    if (targets::Status(n) != 0)
        return SecurityVerdict::Next;
    uint16_t protect = 1;
    if (ApiObj.IsTargetProtected(n, protect) == 0 || !AdapterAnswered(n))
        return SecurityVerdict::Next;
    Protection& state = protection_[size_t(std::clamp(n, 0, kMaxTargets))];
    state = protect == 0 ? Protection::None : Protection::Locked;
    if (protect == 0)
        return SecurityVerdict::Next;

    // The ID that unlocked the last protected target; a listing sends only an ID it was given.
    std::array<uint8_t, kByteFieldSize> remembered{};
    uint32_t size = 0;
    if (!listing_ && settingsFile_.ReadSecurityId(remembered, size)) {
        if (size == 0)
            size = kDefaultSecurityIdBytes;
        SendId(n, WordsOf(remembered.data(), size), protect);
        if (!AdapterAnswered(n))
            return SecurityVerdict::Next;
        if (protect == 0)
            state = Protection::Unlocked;
    }

    while (protect != 0) {
        targets::SetStatus(n, FLASH_OK);
        uint16_t type = 0;
        ApiGetSecType(n, &type);
        const SecurityIdResult answer = view_.RunSecurityIdDialog({n, type != 1 && !listing_});
        // A listing erases nothing: Initialize counts as Skip there.
        if (answer.button == IDSKIP || (listing_ && answer.choice == 1)) {
            targets::SetStatus(n, FLASH_PROTECTED);
            return SecurityVerdict::Next;
        }
        // Unplug, and any way of closing the dialog that chose neither OK nor Skip.
        if (answer.button != IDOK)
            return SecurityVerdict::Unplug;
        if (answer.choice == 1 && type != 1) {
            InitializeProtectedTargets(count);
            return SecurityVerdict::Initialized;
        }
        const std::vector<uint16_t> words = TypedSecurityIdWords(answer.fields);
        SendId(n, words, protect);
        if (!AdapterAnswered(n))
            return SecurityVerdict::Next;
        if (protect == 0) {
            state = Protection::Unlocked;
            std::vector<uint8_t> bytes;
            for (uint16_t w : words) {
                bytes.push_back(uint8_t(w >> 8));
                bytes.push_back(uint8_t(w));
            }
            RememberSecurityId(bytes);
        } else {
            ShowError(IDS_WRONG_SECURITY_ID);
        }
    }
    return SecurityVerdict::Next;
}

void CQuorvelDlg::InitializeProtectedTargets(int count) {
    for (int k = 1; k <= count; ++k)
        if (AdapterAnswered(k))
            targets::SetStatus(k, FLASH_OK);
    ApiChipEraseAll();
    for (int k = 1; k <= count && k <= kMaxTargets; ++k)
        if (targets::Status(k) == FLASH_OK)
            protection_[size_t(k)] = Protection::Initialized;
    for (int k = 1; k <= count; ++k) {
        ShowTargetStatus(k, programdata::kOperationPlug);
        ApiUpdateErrorTargetLED(k);
    }
    RememberSecurityId(std::vector<uint8_t>(kErasedSecurityIdBytes, 0xFF));
}

void CQuorvelDlg::RememberSecurityId(const std::vector<uint8_t>& bytes) {
    if (!settingsFile_.WriteSecurityId(bytes, uint32_t(bytes.size())))
        ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    WarnIfSecurityIdReadable();
}

void CQuorvelDlg::WarnIfSecurityIdReadable() {
    if (securityIdWarned_ || !settingsFile_.SecurityIdReadableByOthers())
        return;
    securityIdWarned_ = true;
    WriteLogText("Warning: " + settingsFile_.Path() +
                 " holds the security ID and other users can read it; make it readable by its "
                 "owner only (chmod 600).\n");
}
