// Named mutexes across processes with flock on lock files in each of the user's usable lock
// directories (LockDirectories: the runtime directory, then the home directory's, whatever the
// session's environment). A program with a runtime directory and one without (a service started
// with no login session, or one whose runtime directory went at the last logout) share at least
// the home directory's files. For each name, in each directory:
//   <name>.exist  held LOCK_SH by every process that has the name open; a process that gets
//                 LOCK_EX on it everywhere is alone, so the mutex did not exist before;
//   <name>.owner  held LOCK_EX by the process whose thread owns the mutex. The owner locks are
//                 tried without waiting in the directories' fixed order, and those got are let
//                 go when one is not, so two processes never hold one each and wait.
// The probe of .exist is serialised by the directory's .guard file, so two processes creating a
// name at once cannot both see it as new, and the last process to close a name removes its
// files under the same guard. The kernel drops every flock of a dying process, which releases
// its mutexes (its files go when the name is next closed by its last user).
//
// Within a process every handle of a name shares one object that tracks the owning thread and
// its recursion count, as on Windows.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/append_file.h"
#include "platform/file_content.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

int FlockRetrying(int fd, int op) {
    int r;
    do {
        r = ::flock(fd, op);
    } while (r != 0 && errno == EINTR);
    return r;
}

struct MutexState {
    explicit MutexState(std::string n) : name(std::move(n)) {}
    const std::string name;  // empty for an unnamed mutex
    std::mutex m;
    std::condition_variable cv;
    struct Place {
        std::string guardPath;  // the lock directory's guard file
        std::string basePath;   // the name's lock files without their suffix
        int existFd = -1;
        int ownerFd = -1;
    };
    std::vector<Place> places;  // in the order their owner locks are taken; none when unnamed
    std::thread::id owner;      // default id: nobody in this process
    uint32_t count = 0;
    bool closed = false;                // the last handle is gone
    std::atomic<bool> orphaned{false};  // inherited by a forked child: unusable there
    int handles = 0;                    // guarded by the registry's mutex
};

struct Registry {
    std::mutex m;
    std::unordered_map<std::string, std::shared_ptr<MutexState>> byName;
};

Registry& Names() {
    static Registry* registry = new Registry;  // lives past static destruction
    return *registry;
}

// A forked child shares the parent's open lock files; it must not act on the parent's locks.
void PrepareFork() {
    Names().m.lock();
}
void ParentAfterFork() {
    Names().m.unlock();
}
void ChildAfterFork() {
    Registry& r = Names();
    for (auto& [name, state] : r.byName) {
        state->orphaned = true;
        // Closing our copies leaves the parent's locks in place.
        for (MutexState::Place& p : state->places) {
            ::close(p.existFd);
            ::close(p.ownerFd);
        }
        state->places.clear();
    }
    r.byName.clear();
    r.m.unlock();
}

void InstallForkHandlers() {
    static std::once_flag once;
    std::call_once(once, [] { ::pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork); });
}

// Releases, when a thread ends, what it still owns, so that no other thread waits forever.
struct OwnedByThread {
    std::vector<std::shared_ptr<MutexState>> states;
    ~OwnedByThread();
};
thread_local OwnedByThread owned;

void Track(const std::shared_ptr<MutexState>& s) {
    owned.states.push_back(s);
}
void Untrack(MutexState* s) {
    auto& v = owned.states;
    auto it = std::find_if(v.begin(), v.end(), [s](const auto& p) { return p.get() == s; });
    if (it != v.end())
        v.erase(it);
}

// Gives up ownership. The caller holds s.m.
void DropOwnership(MutexState& s) {
    s.owner = std::thread::id();
    s.count = 0;
    for (const MutexState::Place& p : s.places)
        FlockRetrying(p.ownerFd, LOCK_UN);
    s.cv.notify_all();
}

OwnedByThread::~OwnedByThread() {
    for (auto& s : states) {
        if (s->orphaned)
            continue;
        std::lock_guard<std::mutex> lock(s->m);
        if (s->owner == std::this_thread::get_id())
            DropOwnership(*s);
    }
}

// 1 when this process now holds the ownership lock, 0 when another process holds it, -1 on error.
// Unnamed mutexes have no places: nothing outside the process.
int TryLockOwner(MutexState& s) {
    for (size_t i = 0; i < s.places.size(); ++i) {
        if (FlockRetrying(s.places[i].ownerFd, LOCK_EX | LOCK_NB) == 0)
            continue;
        const int err = errno;
        while (i > 0)
            FlockRetrying(s.places[--i].ownerFd, LOCK_UN);
        if (err == EWOULDBLOCK)
            return 0;
        SetLastError(Win32ErrorFromErrno(err));
        return -1;
    }
    return 1;
}

uint32_t Acquire(const std::shared_ptr<MutexState>& sp, uint32_t ms) {
    MutexState& s = *sp;
    const auto self = std::this_thread::get_id();
    const bool forever = ms == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
    // Another process gives no signal when it lets go; its lock is polled, backing off.
    auto poll = std::chrono::milliseconds(1);
    if (s.orphaned) {  // its lock may have been held by a thread that did not survive the fork
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(s.m);
    for (;;) {
        if (s.closed || s.orphaned) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (s.owner == self) {
            if (s.count == UINT32_MAX) {
                SetLastError(ERROR_GEN_FAILURE);
                return WAIT_FAILED;
            }
            ++s.count;
            return WAIT_OBJECT_0;
        }
        bool freeHere = s.owner == std::thread::id();
        if (freeHere) {
            int r = TryLockOwner(s);
            if (r < 0)
                return WAIT_FAILED;
            if (r == 1) {
                s.owner = self;
                s.count = 1;
                Track(sp);
                return WAIT_OBJECT_0;
            }
        }
        auto now = Clock::now();
        if (!forever && now >= deadline)
            return WAIT_TIMEOUT;
        if (freeHere) {
            auto wake = forever ? now + poll : std::min(deadline, now + poll);
            s.cv.wait_until(lock, wake);
            // Short: a holder that lets go and takes it again soon (a line's cycles) must not
            // starve the others of a lock they wait a few seconds for.
            poll = std::min(poll * 2, std::chrono::milliseconds(4));
        } else if (forever) {
            s.cv.wait(lock);
        } else {
            s.cv.wait_until(lock, deadline);
        }
    }
}

void CloseNamed(MutexState& s);

class MutexHandle : public KernelObject {
  public:
    explicit MutexHandle(std::shared_ptr<MutexState> state) : state_(std::move(state)) {}
    ~MutexHandle() override;
    uint32_t Wait(uint32_t ms) override {
        std::shared_ptr<MutexState> keep = state_;  // the state outlives a concurrent close
        return Acquire(keep, ms);
    }
    bool Release();

  private:
    std::shared_ptr<MutexState> state_;
};

bool MutexHandle::Release() {
    MutexState& s = *state_;
    if (s.orphaned) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    std::lock_guard<std::mutex> lock(s.m);
    if (s.closed || s.owner != std::this_thread::get_id()) {
        SetLastError(ERROR_NOT_OWNER);
        return false;
    }
    if (--s.count == 0) {
        DropOwnership(s);
        Untrack(&s);
    }
    return true;
}

MutexHandle::~MutexHandle() {
    MutexState& s = *state_;
    if (s.orphaned)
        return;  // the files belong to the parent process
    // Under the registry's lock, so that a new CreateMutexA of the name sees it gone entirely.
    std::lock_guard<std::mutex> names(Names().m);
    if (--s.handles > 0)
        return;
    if (!s.name.empty()) {
        auto it = Names().byName.find(s.name);
        if (it != Names().byName.end() && it->second.get() == &s)
            Names().byName.erase(it);
    }
    std::lock_guard<std::mutex> lock(s.m);
    // The last handle of an owned mutex releases it.
    if (s.owner != std::thread::id())
        DropOwnership(s);
    s.closed = true;
    if (!s.places.empty())
        CloseNamed(s);
    s.cv.notify_all();
}

// What stands in for /run/user/<uid> and the home directory in tests.
struct LockPlaces {
    std::mutex m;
    std::string runtimeDir, homeDir;
};
LockPlaces& PlacesForTesting() {
    static LockPlaces* places = new LockPlaces;  // lives past static destruction
    return *places;
}

// The user's home directory from the password database; empty, with why, when there is none.
std::string HomeDirectory(uid_t uid, std::string& why) {
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : 4096);
    for (;;) {
        struct passwd entry;
        struct passwd* found = nullptr;
        int err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
            return found->pw_dir;
        why = "the home directory of user " + std::to_string(uid) +
              (found == nullptr ? " is not in the password database" : " is not an absolute path");
        return {};
    }
}

// The host's name as a file name: a home directory shared by several PCs must not make them
// share their adapter locks.
std::string HostAsFileName() {
    const std::string name = HostName();
    if (name.empty())
        return "localhost";
    std::string out;
    for (char c : name) {
        if (out.size() >= 64)
            break;
        const bool plain =
            std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
        out.push_back(plain ? c : '_');
    }
    return out;
}

// Creates dir (mode 0700) when missing and answers whether it is private to the user; why
// says what is wrong with it otherwise.
bool UsablePrivateDirectory(const std::string& dir, std::string& why) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = std::string("cannot be created: ") + std::strerror(errno);
        return false;
    }
    if (!IsPrivateDirectory(dir, why)) {
        if (why.empty())
            why = "vanished";
        return false;
    }
    // A read-only file system (a home mounted so) takes no lock files.
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        why = std::string("cannot be written: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The usable lock directories, the runtime directory's first; false (ERROR_ACCESS_DENIED), with
// why naming each directory refused and the reason, when there is none.
bool LockDirectories(std::vector<std::string>& dirs, std::string* why) {
    std::string runtime, home;
    {
        std::lock_guard<std::mutex> lock(PlacesForTesting().m);
        runtime = PlacesForTesting().runtimeDir;
        home = PlacesForTesting().homeDir;
    }
    // Found from the user id, not from the environment: a desktop session has XDG_RUNTIME_DIR,
    // an ssh session or a service of the same user may not, and all must meet at the same
    // mutexes. Neither place can be made by another user before this one.
    const uid_t uid = ::geteuid();
    if (runtime.empty())
        runtime = "/run/user/" + std::to_string(uid);
    dirs.clear();
    std::vector<std::string> refused;
    std::string reason;
    if (IsPrivateDirectory(runtime, reason)) {
        const std::string dir = runtime + "/quorvel-locks";
        if (UsablePrivateDirectory(dir, reason))
            dirs.push_back(dir);
        else
            refused.push_back(dir + " " + reason);
    } else if (!reason.empty()) {  // a missing runtime directory is no fault
        refused.push_back(runtime + " " + reason);
    }
    if (home.empty())
        home = HomeDirectory(uid, reason);
    if (home.empty()) {
        refused.push_back(reason);
    } else {
        const std::string dir = home + "/.quorvel-locks-" + HostAsFileName();
        if (UsablePrivateDirectory(dir, reason))
            dirs.push_back(dir);
        else
            refused.push_back(dir + " " + reason);
    }
    if (!dirs.empty())
        return true;
    if (why != nullptr) {
        why->clear();
        for (const std::string& r : refused)
            *why += (why->empty() ? "" : "; ") + r;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

uint64_t Fnv1a(std::string_view s, uint64_t seed) {
    uint64_t h = seed;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

// Letters, digits, '-', '_' and inner dots stay; every other byte (and '%') becomes %XX, so
// distinct names give distinct files. Names too long for a file name are cut and hashed.
std::string EncodeName(std::string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || (c == '.' && i > 0);
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out.size() > 200) {
        char tail[40];
        std::snprintf(tail, sizeof tail, "~%016llx%016llx",
                      static_cast<unsigned long long>(Fnv1a(name, 0xcbf29ce484222325ull)),
                      static_cast<unsigned long long>(Fnv1a(name, 0x84222325cbf29ce4ull)));
        out = out.substr(0, 150) + tail;
    }
    return out;
}

int OpenLockFile(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether fd is still the file at path (a runtime directory removed at a logout and made again
// holds new files of the same names).
bool IsFileAt(int fd, const std::string& path) {
    struct stat open, named;
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void ClosePlace(MutexState::Place& p) {
    int guard = OpenLockFile(p.guardPath);
    if (guard >= 0 && FlockRetrying(guard, LOCK_EX) == 0 &&
        FlockRetrying(p.existFd, LOCK_EX | LOCK_NB) == 0 &&
        IsFileAt(p.existFd, p.basePath + ".exist")) {
        // No other process has the name open, and none can open it while we hold the guard.
        ::unlink((p.basePath + ".exist").c_str());
        ::unlink((p.basePath + ".owner").c_str());
    }
    ::close(p.ownerFd);
    ::close(p.existFd);
    p.ownerFd = p.existFd = -1;
    if (guard >= 0)
        ::close(guard);
}

void CloseNamed(MutexState& s) {
    for (MutexState::Place& p : s.places)
        ClosePlace(p);
    s.places.clear();
}

// Opens the lock files of a name in one directory and takes the shared existence lock. Sets
// existed when another process had the name open there.
bool OpenPlace(MutexState::Place& p, bool& existed) {
    int guard = OpenLockFile(p.guardPath);
    bool ok = guard >= 0 && FlockRetrying(guard, LOCK_EX) == 0;
    // Opened under the guard, since the last process to close a name removes its files there.
    if (ok) {
        p.existFd = OpenLockFile(p.basePath + ".exist");
        p.ownerFd = OpenLockFile(p.basePath + ".owner");
        ok = p.existFd >= 0 && p.ownerFd >= 0;
    }
    if (ok) {
        if (FlockRetrying(p.existFd, LOCK_EX | LOCK_NB) != 0) {
            ok = errno == EWOULDBLOCK;
            existed = true;
        }
        // Other processes only probe under the guard, so the lock cannot be lost in between.
        ok = ok && FlockRetrying(p.existFd, LOCK_SH) == 0;
    }
    int err = errno;
    if (guard >= 0)
        ::close(guard);  // closing drops the guard lock
    if (!ok) {
        SetLastError(Win32ErrorFromErrno(err));
        if (p.existFd >= 0)
            ::close(p.existFd);
        if (p.ownerFd >= 0)
            ::close(p.ownerFd);
        p.existFd = p.ownerFd = -1;
    }
    return ok;
}

// Opens the name in every usable lock directory. Sets existed when another process had it open
// in any of them. The caller holds the registry's lock.
bool OpenNamed(MutexState& s, bool& existed) {
    std::vector<std::string> dirs;
    if (!LockDirectories(dirs, nullptr))
        return false;
    existed = false;
    s.places.reserve(dirs.size());
    for (const std::string& dir : dirs) {
        MutexState::Place p{dir + "/.guard", dir + "/" + EncodeName(s.name)};
        if (!OpenPlace(p, existed)) {
            const uint32_t error = GetLastError();
            CloseNamed(s);
            SetLastError(error);
            return false;
        }
        s.places.push_back(std::move(p));
    }
    return true;
}

}  // namespace

bool UserLockDirectory(std::string& dir, std::string* why) {
    std::vector<std::string> dirs;
    const bool found = LockDirectories(dirs, why);
    dir = found ? dirs.front() : std::string();
    return found;
}

std::string LockDirectoryProblem() {
    std::string dir, why;
    return UserLockDirectory(dir, &why) ? std::string() : why;
}

void SetLockDirectoryPlacesForTesting(const std::string& runtimeDir, const std::string& homeDir) {
    std::lock_guard<std::mutex> lock(PlacesForTesting().m);
    PlacesForTesting().runtimeDir = runtimeDir;
    PlacesForTesting().homeDir = homeDir;
}

HANDLE CreateMutexA(void*, bool initialOwner, const char* name) {
    InstallForkHandlers();
    try {
        std::string key = name == nullptr ? std::string() : std::string(name);
        std::shared_ptr<MutexState> state;
        bool existed = false;
        {
            std::lock_guard<std::mutex> names(Names().m);
            auto it = key.empty() ? Names().byName.end() : Names().byName.find(key);
            if (it != Names().byName.end()) {
                state = it->second;
                existed = true;
            } else {
                state = std::make_shared<MutexState>(key);
                if (!key.empty()) {
                    if (!OpenNamed(*state, existed))
                        return nullptr;
                    Names().byName.emplace(key, state);
                }
            }
            ++state->handles;
        }
        // Ownership on creation only: an existing mutex keeps its owner, as on Windows.
        if (initialOwner && !existed) {
            std::lock_guard<std::mutex> lock(state->m);
            if (state->owner == std::thread::id() && TryLockOwner(*state) == 1) {
                state->owner = std::this_thread::get_id();
                state->count = 1;
                Track(state);
            }
        }
        HANDLE h = RegisterHandle(new MutexHandle(std::move(state)));
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return h;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool ReleaseMutex(HANDLE h) {
    auto* mutex = LookupHandleAs<MutexHandle>(h);
    if (mutex == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return mutex->Release();
}

}  // namespace plat
