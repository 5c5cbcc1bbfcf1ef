// Pipe devices of simulated adapters (pipe_devices.h, pipe_security.h). The server is judged by
// the connected pipe object's security descriptor, which its creator set and which stays with
// the pipe: the owner must be this user and the integrity label no lower than this process's.
// A process id would name whatever process holds the server end now, or one that reused the
// id. Pipes are opened for identification only, so a server cannot act as this user.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pipe_devices.h"
#include "platform/pipe_security.h"
#include "platform/win32_types.h"
#include "wait_limit.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"
// After windows.h: they need its types.
#include <aclapi.h>
#include <sddl.h>

namespace plat {

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
// Room for "\PIPE00" behind the path in the library's 256-byte name fields.
constexpr size_t kMaxDevicePath = 255 - 7;
// A pipe whose instances are all taken is waited for this long, once: 32 busy pipes hold a
// Plug up for about three seconds, not for minutes.
constexpr uint32_t kBusyPipeWaitMs = 100;

// This process's user and integrity level (the RID of its label; 0 where the system has none).
struct Identity {
    std::vector<unsigned char> user;  // TOKEN_USER
    std::string userText;             // the user SID as text
    std::string labelText;            // the integrity label SID as text, empty without one
    DWORD integrity = 0;
    bool known = false;

    PSID userSid() const { return reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid; }
};

bool TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<unsigned char>& info) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    info.resize(size);
    return size > 0 && ::GetTokenInformation(token, what, info.data(), size, &size);
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text))
        return {};
    std::string result = text;
    ::LocalFree(text);
    return result;
}

DWORD LastSubAuthority(PSID sid) {
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    return count == 0 ? 0 : *::GetSidSubAuthority(sid, count - 1);
}

Identity ReadIdentity() {
    Identity id;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return id;
    std::vector<unsigned char> label;
    if (TokenInfo(token, ::TokenUser, id.user)) {
        id.userText = SidText(id.userSid());
        id.known = !id.userText.empty();
    }
    if (TokenInfo(token, ::TokenIntegrityLevel, label)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
        id.integrity = LastSubAuthority(sid);
        id.labelText = SidText(sid);
    }
    ::CloseHandle(token);
    return id;
}

const Identity& ThisProcess() {
    static const Identity identity = ReadIdentity();
    return identity;
}

// The integrity level an object's label gives it; an object without a label counts as medium.
DWORD LabelOf(PACL sacl) {
    for (DWORD i = 0; sacl != nullptr && i < sacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (::GetAce(sacl, i, reinterpret_cast<void**>(&ace)) &&
            ace->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE)
            return LastSubAuthority(reinterpret_cast<PSID>(
                &reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart));
    }
    return SECURITY_MANDATORY_MEDIUM_RID;
}

// Every instance taken for a moment: wait for one, briefly.
bool WaitForFreeInstance(const std::string& path) {
    const LimitedWait wait = LimitWait(kBusyPipeWaitMs);
    // 0 would mean the pipe's own default time-out.
    if (::WaitNamedPipeA(path.c_str(), std::max<DWORD>(wait.ms, 1)))
        return true;
    if (wait.cut)
        NoteExpiredWait(kBusyPipeWaitMs);
    return false;
}

}  // namespace

PrivatePipeSecurity::PrivatePipeSecurity() {
    const Identity& us = ThisProcess();
    if (!us.known)
        return;
    // Protected: nothing is inherited, so the user's entry is the only one.
    std::string text = "O:" + us.userText + "D:P(A;;FA;;;" + us.userText + ")";
    if (!us.labelText.empty())
        text += "S:(ML;;NW;;;" + us.labelText + ")";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &sd,
                                                                nullptr))
        return;
    descriptor_ = sd;
    auto* sa = new SECURITY_ATTRIBUTES{};
    sa->nLength = sizeof *sa;
    sa->lpSecurityDescriptor = sd;
    sa->bInheritHandle = FALSE;
    attributes_ = sa;
}

PrivatePipeSecurity::~PrivatePipeSecurity() {
    delete static_cast<SECURITY_ATTRIBUTES*>(attributes_);
    if (descriptor_ != nullptr)
        ::LocalFree(descriptor_);
}

void* PrivatePipeSecurity::attributes() {
    return attributes_;
}

bool PipeServerTrusted(HANDLE pipe) {
    const Identity& us = ThisProcess();
    if (!us.known)
        return false;
    PSID owner = nullptr;
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | (us.integrity != 0 ? LABEL_SECURITY_INFORMATION : 0);
    if (::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, what, &owner, nullptr, nullptr,
                          us.integrity != 0 ? &sacl : nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const bool trusted = owner != nullptr && ::IsValidSid(owner) &&
                         ::EqualSid(owner, us.userSid()) &&
                         (us.integrity == 0 || LabelOf(sacl) >= us.integrity);
    ::LocalFree(sd);
    return trusted;
}

bool IsLocalPipePath(const char* path) {
    return path != nullptr && ::_strnicmp(path, kPipePrefix, sizeof kPipePrefix - 1) == 0 &&
           path[sizeof kPipePrefix - 1] != '\0';
}

std::vector<std::string> PipeDevicesFromEnvironment() {
    std::vector<std::string> found;
    const char* list = std::getenv("VEXIL_PIPE_DEVICES");
    if (list == nullptr)
        return found;
    for (const char* at = list; *at != '\0';) {
        const char* end = std::strchr(at, ';');
        const size_t length = end != nullptr ? size_t(end - at) : std::strlen(at);
        std::string path(at, length);
        at += length + (end != nullptr ? 1 : 0);
        if (path.size() > kMaxDevicePath || !IsLocalPipePath(path.c_str()))
            continue;
        HANDLE h = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 2 && h == INVALID_HANDLE_VALUE; ++attempt) {
            h = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
            if (h == INVALID_HANDLE_VALUE &&
                (attempt > 0 || ::GetLastError() != ERROR_PIPE_BUSY || !WaitForFreeInstance(path)))
                break;
        }
        if (h == INVALID_HANDLE_VALUE)
            continue;
        if (PipeServerTrusted(h))
            found.push_back(path);
        ::CloseHandle(h);
    }
    return found;
}

}  // namespace plat
