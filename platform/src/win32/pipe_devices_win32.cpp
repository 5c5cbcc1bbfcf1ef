// Pipe devices of simulated adapters (pipe_devices.h). The server's identity is taken from the
// connected pipe itself (GetNamedPipeServerProcessId) and its token's user compared with ours;
// the pipe is opened for identification only, so its server cannot act as this user.
#include "pipe_devices.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
// Room for "\PIPE00" behind the path in the library's 256-byte name fields.
constexpr size_t kMaxDevicePath = 255 - 7;

bool UserOf(HANDLE process, std::vector<unsigned char>& info) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    info.resize(size);
    const BOOL ok = size > 0 && ::GetTokenInformation(token, ::TokenUser, info.data(), size, &size);
    ::CloseHandle(token);
    return ok != FALSE;
}

PSID SidOf(std::vector<unsigned char>& info) {
    return reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
}

}  // namespace

bool IsLocalPipePath(const char* path) {
    return path != nullptr && ::_strnicmp(path, kPipePrefix, sizeof kPipePrefix - 1) == 0 &&
           path[sizeof kPipePrefix - 1] != '\0';
}

bool PipeServedByThisUser(HANDLE pipe) {
    ULONG pid = 0;
    if (!::GetNamedPipeServerProcessId(pipe, &pid))
        return false;
    if (pid == ::GetCurrentProcessId())
        return true;
    HANDLE server = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (server == nullptr)
        return false;
    std::vector<unsigned char> theirs, ours;
    const bool same = UserOf(server, theirs) && UserOf(::GetCurrentProcess(), ours) &&
                      ::EqualSid(SidOf(theirs), SidOf(ours));
    ::CloseHandle(server);
    return same;
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
            h = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
            // Every instance taken for a moment: wait for one once.
            if (h == INVALID_HANDLE_VALUE &&
                (::GetLastError() != ERROR_PIPE_BUSY || !::WaitNamedPipeA(path.c_str(), 2000)))
                break;
        }
        if (h == INVALID_HANDLE_VALUE)
            continue;
        if (PipeServedByThisUser(h))
            found.push_back(path);
        ::CloseHandle(h);
    }
    return found;
}

}  // namespace plat
