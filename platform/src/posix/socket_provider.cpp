#include "socket_provider.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/device_io.h"
#include "platform/file_content.h"
#include "platform/socket_device.h"

namespace plat {

std::string SocketDeviceDirectory() {
    std::string dir;
    const char* v = std::getenv("VEXIL_DEVICE_DIR");
    if (v != nullptr && *v != '\0') {
        dir = v;
    } else if ((v = std::getenv("XDG_RUNTIME_DIR")) != nullptr && *v != '\0') {
        dir = std::string(v) + "/vexil";
    } else {
        dir = "/tmp/vexil-" + std::to_string(::getuid());
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

namespace sockdev {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void AppendMessage(std::vector<uint8_t>& out, uint8_t type, const uint8_t* body, size_t size) {
    PutU32(out, static_cast<uint32_t>(size + 1));
    out.push_back(type);
    if (size != 0)
        out.insert(out.end(), body, body + size);
}

void AppendMessage(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& body) {
    AppendMessage(out, type, body.data(), body.size());
}

bool TakeMessage(const uint8_t* data, size_t end, size_t& start, Message& message, bool& bad) {
    bad = false;
    if (end - start < kHeadSize)
        return false;
    uint32_t length = GetU32(data + start);
    if (length == 0 || length > kMaxMessage) {
        bad = true;
        return false;
    }
    if (end - start < kLengthSize + length)
        return false;
    const uint8_t* p = data + start + kLengthSize;
    message.type = p[0];
    message.body.assign(p + 1, p + length);
    start += kLengthSize + length;
    return true;
}

void EncodeGuid(std::vector<uint8_t>& out, const GUID& guid) {
    PutU32(out, guid.Data1);
    out.push_back(static_cast<uint8_t>(guid.Data2));
    out.push_back(static_cast<uint8_t>(guid.Data2 >> 8));
    out.push_back(static_cast<uint8_t>(guid.Data3));
    out.push_back(static_cast<uint8_t>(guid.Data3 >> 8));
    out.insert(out.end(), guid.Data4, guid.Data4 + 8);
}

GUID DecodeGuid(const uint8_t* p) {
    GUID g{};
    g.Data1 = GetU32(p);
    g.Data2 = static_cast<uint16_t>(p[4] | (p[5] << 8));
    g.Data3 = static_cast<uint16_t>(p[6] | (p[7] << 8));
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

}  // namespace sockdev

namespace {

using Clock = std::chrono::steady_clock;
using namespace sockdev;

// Whoever can put a socket into the device directory could pose as an adapter, receive the
// write images and answer identity and verify: only a directory private to the user counts.
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when it is missing, or ERROR_ACCESS_DENIED, with the
// reason said once per directory on standard error.
uint32_t DeviceDirectoryError(const std::string& dir) {
    std::string why;
    if (IsPrivateDirectory(dir, why))
        return ERROR_SUCCESS;
    if (why.empty())
        return ERROR_FILE_NOT_FOUND;
    static std::mutex* mutex = new std::mutex;  // both live past static destruction
    static std::set<std::string>* told = new std::set<std::string>;
    std::lock_guard<std::mutex> lock(*mutex);
    if (told->insert(dir).second)
        std::fprintf(stderr,
                     "Vexil adapters: the device directory %s %s; no adapter there is used. It "
                     "must belong to this user and be writable by nobody else.\n",
                     dir.c_str(), why.c_str());
    return ERROR_ACCESS_DENIED;
}

constexpr size_t kReceiveChunk = 64 * 1024;
constexpr int kConnectWaitMs = 1000;
// Probing every socket of the directory shares one limit, so a stopped daemon cannot make an
// enumeration of 32 adapters last minutes.
constexpr int kProbeMs = 2000;

std::atomic<uint32_t> waitLimitMs{0};
std::mutex expiriesMutex;
SocketWaitExpiries expiries;

// The wait a transfer really makes for a caller's time-out of ms.
uint32_t RealWait(uint32_t ms) {
    uint32_t limit = waitLimitMs.load();
    return limit != 0 && ms > limit ? limit : ms;
}

// A wait ran out: false, the result of an expired transfer.
bool Expired(uint32_t asked) {
    std::lock_guard<std::mutex> lock(expiriesMutex);
    ++expiries.count;
    expiries.longestAskedMs = std::max(expiries.longestAskedMs, asked);
    return false;
}

// Milliseconds left until deadline, rounded up so that a wait never ends early; -1 for none.
int MsLeft(bool unlimited, Clock::time_point deadline) {
    if (unlimited)
        return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// One connection to one adapter socket, shared by the device handle and every pipe handle
// of that path. Replies arrive unasked and queue here until a read on pipe 1 takes them.
class Connection {
  public:
    explicit Connection(int fd) : fd_(fd), in_(kReceiveChunk) {}
    ~Connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Held across waits: one transfer at a time per device.
    std::mutex mutex;

    bool broken() const { return broken_.load(); }
    uint64_t queuedTotal() const { return queued_; }
    uint64_t sentTotal() const { return sent_; }
    bool outputWaiting() const { return outStart_ < out_.size(); }

    void Queue(uint8_t type, const uint8_t* body, size_t size) {
        if (broken())
            return;
        size_t before = out_.size();
        AppendMessage(out_, type, body, size);
        queued_ += out_.size() - before;
        Flush();
    }

    // Waits up to ms (-1: no limit) for input, or for room while output waits, and handles
    // it. Returns when something happened or the time ran out.
    void Pump(int ms) {
        if (broken())
            return;
        pollfd p{fd_, static_cast<short>(POLLIN | (outputWaiting() ? POLLOUT : 0)), 0};
        int r = ::poll(&p, 1, ms);
        if (r <= 0)
            return;  // time out, or EINTR: the caller checks its deadline
        if (p.revents & POLLOUT)
            Flush();
        if (p.revents & (POLLIN | POLLHUP | POLLERR))
            Receive();
    }

    // Takes everything the socket holds now, without waiting.
    void Receive() {
        while (!broken()) {
            if (in_.size() - inEnd_ < kReceiveChunk / 4) {
                // Move the unparsed rest to the front; grow only for a message larger than
                // the buffer.
                std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
                inEnd_ -= inStart_;
                inStart_ = 0;
                if (in_.size() - inEnd_ < kReceiveChunk / 4)
                    in_.resize(in_.size() * 2);
            }
            size_t room = in_.size() - inEnd_;
            ssize_t r = ::recv(fd_, in_.data() + inEnd_, room, MSG_DONTWAIT);
            if (r > 0) {
                inEnd_ += static_cast<size_t>(r);
                Parse();
                if (static_cast<size_t>(r) < room)
                    return;
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            Break();  // end of stream: the daemon is gone
        }
    }

    // Copies the next reply (or the rest of a partly read one) into buffer.
    bool TakeReply(uint8_t* buffer, uint32_t length, uint32_t& n) {
        if (replies_.empty())
            return false;
        const std::vector<uint8_t>& front = replies_.front();
        n = static_cast<uint32_t>(std::min<size_t>(length, front.size() - replyOffset_));
        if (n != 0)
            std::memcpy(buffer, front.data() + replyOffset_, n);
        replyOffset_ += n;
        if (replyOffset_ >= front.size()) {
            replies_.pop_front();
            replyOffset_ = 0;
        }
        return true;
    }

    // Waits for the answer of type until deadline. A peer silent that long counts as gone.
    bool AwaitAck(uint8_t type, Clock::time_point deadline, Message& ack) {
        for (bool last = false;;) {
            for (auto it = acks_.begin(); it != acks_.end(); ++it) {
                if (it->type == type) {
                    ack = std::move(*it);
                    acks_.erase(it);
                    return true;
                }
            }
            if (broken())
                return false;
            if (last) {
                Break();
                return false;
            }
            int left = MsLeft(false, deadline);
            if (left == 0) {
                Receive();  // an answer may be waiting although the time is up
                last = true;
                continue;
            }
            Pump(left);
        }
    }

    bool RoundTrip(uint8_t type, const std::vector<uint8_t>& body, uint8_t ackType, Message& ack) {
        Receive();  // notices a daemon that went away while the connection was idle
        Queue(type, body.data(), body.size());
        return AwaitAck(ackType, Clock::now() + std::chrono::milliseconds(kRoundTripMs), ack);
    }

    // Takes back the message at stream bytes [start, end) of a write that was abandoned, so
    // the device never runs a request the host has given up on. A message already partly on
    // its way cannot be cut out of the stream: the connection is dropped instead, and the
    // next open starts a fresh one (with its reset).
    void Withdraw(uint64_t start, uint64_t end) {
        if (broken() || sent_ >= end)
            return;
        if (sent_ <= start && end == queued_) {
            out_.resize(outStart_ + static_cast<size_t>(start - sent_));
            queued_ = start;
            return;
        }
        Break();
    }

    void Break() {
        if (broken_.exchange(true))
            return;
        ::close(fd_);
        fd_ = -1;
        out_.clear();
        outStart_ = 0;
    }

  private:
    void Flush() {
        while (outStart_ < out_.size()) {
            ssize_t r = ::send(fd_, out_.data() + outStart_, out_.size() - outStart_,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r > 0) {
                outStart_ += static_cast<size_t>(r);
                sent_ += static_cast<uint64_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            Break();
            return;
        }
        out_.clear();
        outStart_ = 0;
    }

    void Parse() {
        Message m;
        bool bad = false;
        while (TakeMessage(in_.data(), inEnd_, inStart_, m, bad)) {
            if (m.type == kReply) {
                replies_.push_back(std::move(m.body));
                continue;
            }
            // A reset voids every reply the device sent before it.
            bool reset = (m.type == kOpenAck && m.body.size() >= 4 && GetU32(m.body.data()) == 0) ||
                         (m.type == kControlAck && m.body.size() >= 5 && (m.body[4] & 1) != 0);
            if (reset) {
                replies_.clear();
                replyOffset_ = 0;
            }
            acks_.push_back(std::move(m));
        }
        if (bad)
            Break();
        if (inStart_ == inEnd_)
            inStart_ = inEnd_ = 0;
    }

    int fd_;
    std::atomic<bool> broken_{false};
    std::vector<uint8_t> in_;
    size_t inStart_ = 0;
    size_t inEnd_ = 0;
    std::vector<uint8_t> out_;
    size_t outStart_ = 0;
    uint64_t queued_ = 0;
    uint64_t sent_ = 0;
    std::deque<std::vector<uint8_t>> replies_;
    size_t replyOffset_ = 0;
    std::deque<Message> acks_;
};

uint32_t ErrorFromConnect(int err) {
    switch (err) {
        case ENOENT:
        case ECONNREFUSED:  // a socket file left by a daemon that died
        case ENOTSOCK:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::shared_ptr<Connection> Connect(const std::string& path, uint32_t& error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = ERROR_GEN_FAILURE;
        return nullptr;
    }
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EINPROGRESS)) {
        // The daemon's accept queue is full for a moment.
        pollfd p{fd, POLLOUT, 0};
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::poll(&p, 1, kConnectWaitMs) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0) {
            r = 0;
        } else {
            errno = soError != 0 ? soError : ETIMEDOUT;
        }
    }
    if (r < 0) {
        error = ErrorFromConnect(errno);
        ::close(fd);
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_shared<Connection>(fd);
}

// One connection per device path; kept until it breaks.
struct Pool {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Connection>> byPath;
};

Pool& ThePool() {
    static Pool* pool = new Pool;  // lives past static destruction
    return *pool;
}

std::shared_ptr<Connection> Acquire(const std::string& path, uint32_t& error) {
    auto& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto it = pool.byPath.find(path);
    if (it != pool.byPath.end() && !it->second->broken()) {
        error = ERROR_SUCCESS;
        return it->second;
    }
    auto c = Connect(path, error);
    if (c != nullptr)
        pool.byPath[path] = c;
    else if (it != pool.byPath.end())
        pool.byPath.erase(it);
    return c;
}

void Discard(const std::string& path, const std::shared_ptr<Connection>& c) {
    auto& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto it = pool.byPath.find(path);
    if (it != pool.byPath.end() && it->second == c)
        pool.byPath.erase(it);
}

class SocketRead : public PendingTransfer {
  public:
    SocketRead(std::shared_ptr<Connection> c, uint8_t* buffer, uint32_t length)
        : c_(std::move(c)), buffer_(buffer), length_(length) {}

    bool Drive(uint32_t asked, uint32_t& transferred, uint32_t& error) override {
        std::lock_guard<std::mutex> lock(c_->mutex);
        const uint32_t ms = RealWait(asked);
        const bool unlimited = ms == INFINITE;
        const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : ms);
        for (bool first = true;; first = false) {
            uint32_t n = 0;
            if (c_->TakeReply(buffer_, length_, n)) {
                transferred = n;
                error = ERROR_SUCCESS;
                return true;
            }
            if (c_->broken()) {
                transferred = 0;
                error = ERROR_DEVICE_NOT_CONNECTED;
                return true;
            }
            int left = MsLeft(unlimited, deadline);
            if (left == 0 && !first)
                return Expired(asked);
            c_->Pump(left);
        }
    }

  private:
    std::shared_ptr<Connection> c_;
    uint8_t* buffer_;
    uint32_t length_;
};

// A write the socket could not take at once; done when its last byte left.
class SocketWrite : public PendingTransfer {
  public:
    SocketWrite(std::shared_ptr<Connection> c, uint64_t start, uint64_t end, uint32_t length)
        : c_(std::move(c)), start_(start), end_(end), length_(length) {}

    void Cancel() override {
        std::lock_guard<std::mutex> lock(c_->mutex);
        c_->Withdraw(start_, end_);
    }

    bool Drive(uint32_t asked, uint32_t& transferred, uint32_t& error) override {
        std::lock_guard<std::mutex> lock(c_->mutex);
        const uint32_t ms = RealWait(asked);
        const bool unlimited = ms == INFINITE;
        const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : ms);
        for (bool first = true;; first = false) {
            if (c_->sentTotal() >= end_) {
                transferred = length_;
                error = ERROR_SUCCESS;
                return true;
            }
            if (c_->broken()) {
                transferred = 0;
                error = ERROR_DEVICE_NOT_CONNECTED;
                return true;
            }
            int left = MsLeft(unlimited, deadline);
            if (left == 0 && !first)
                return Expired(asked);
            c_->Pump(left);
        }
    }

  private:
    std::shared_ptr<Connection> c_;
    uint64_t start_;
    uint64_t end_;
    uint32_t length_;
};

class SocketFile : public DeviceFile {
  public:
    SocketFile(std::shared_ptr<Connection> c, int pipe, uint32_t access)
        : c_(std::move(c)), pipe_(pipe), access_(access) {}

    IoStart Read(void* buffer, uint32_t length) override {
        if (pipe_ != 1)
            return IoStart::Failed(ERROR_INVALID_PARAMETER);
        if ((access_ & GENERIC_READ) == 0)
            return IoStart::Failed(ERROR_ACCESS_DENIED);
        std::lock_guard<std::mutex> lock(c_->mutex);
        if (length == 0)
            return IoStart::Done(0);
        c_->Receive();
        uint32_t n = 0;
        if (c_->TakeReply(static_cast<uint8_t*>(buffer), length, n))
            return IoStart::Done(n);
        if (c_->broken())
            return IoStart::Failed(ERROR_DEVICE_NOT_CONNECTED);
        return IoStart::Pending(
            std::make_unique<SocketRead>(c_, static_cast<uint8_t*>(buffer), length));
    }

    IoStart Write(const void* buffer, uint32_t length) override {
        if (pipe_ != 0)
            return IoStart::Failed(ERROR_INVALID_PARAMETER);
        if ((access_ & GENERIC_WRITE) == 0)
            return IoStart::Failed(ERROR_ACCESS_DENIED);
        std::lock_guard<std::mutex> lock(c_->mutex);
        if (c_->broken())
            return IoStart::Failed(ERROR_DEVICE_NOT_CONNECTED);
        if (length == 0)
            return IoStart::Done(0);
        const uint64_t start = c_->queuedTotal();
        c_->Queue(kFrame, static_cast<const uint8_t*>(buffer), length);
        if (c_->broken())
            return IoStart::Failed(ERROR_DEVICE_NOT_CONNECTED);
        const uint64_t end = c_->queuedTotal();
        if (c_->sentTotal() >= end)
            return IoStart::Done(length);
        // The message is queued in full, so the caller's buffer is free already.
        return IoStart::Pending(std::make_unique<SocketWrite>(c_, start, end, length));
    }

    uint32_t Control(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                     uint32_t outSize, uint32_t& returned) override {
        returned = 0;
        std::lock_guard<std::mutex> lock(c_->mutex);
        if (c_->broken())
            return ERROR_DEVICE_NOT_CONNECTED;
        std::vector<uint8_t> body;
        body.reserve(8 + inSize);
        PutU32(body, code);
        PutU32(body, outSize);
        if (inSize != 0)
            body.insert(body.end(), in, in + inSize);
        Message ack;
        if (!c_->RoundTrip(kControl, body, kControlAck, ack) || ack.body.size() < 5)
            return ERROR_DEVICE_NOT_CONNECTED;
        uint32_t error = GetU32(ack.body.data());
        size_t n = std::min<size_t>(outSize, ack.body.size() - 5);
        if (n != 0)
            std::memcpy(out, ack.body.data() + 5, n);
        returned = static_cast<uint32_t>(n);
        return error;
    }

  private:
    std::shared_ptr<Connection> c_;
    int pipe_;
    uint32_t access_;
};

class Provider : public DeviceProvider {
  public:
    bool ClaimsPath(const std::string& devicePath) override {
        const std::string dir = SocketDeviceDirectory();
        return devicePath.size() > dir.size() + 1 && devicePath.compare(0, dir.size(), dir) == 0 &&
               devicePath[dir.size()] == '/' &&
               devicePath.find('/', dir.size() + 1) == std::string::npos;
    }

    std::unique_ptr<DeviceFile> Open(const std::string& devicePath, int pipe, uint32_t access,
                                     uint32_t& error) override {
        if (pipe < kDeviceItself || pipe > 1) {
            error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        error = DeviceDirectoryError(SocketDeviceDirectory());
        if (error != ERROR_SUCCESS)
            return nullptr;
        if (pipe != kDeviceItself) {
            // Pipes ride on the device's connection: no round trip.
            auto c = Acquire(devicePath, error);
            if (c == nullptr)
                return nullptr;
            return std::make_unique<SocketFile>(std::move(c), pipe, access);
        }
        // An idle connection may belong to a daemon that has gone since; try a fresh one.
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto c = Acquire(devicePath, error);
            if (c == nullptr)
                return nullptr;
            Message ack;
            std::unique_lock<std::mutex> lock(c->mutex);
            if (c->RoundTrip(kOpen, {}, kOpenAck, ack) && ack.body.size() >= 4) {
                error = GetU32(ack.body.data());
                if (error != ERROR_SUCCESS)
                    return nullptr;
                lock.unlock();
                return std::make_unique<SocketFile>(std::move(c), pipe, access);
            }
            lock.unlock();
            Discard(devicePath, c);
        }
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }

    void ListInterfaces(const GUID& interfaceClass, std::vector<DeviceListing>& out) override {
        const std::string dir = SocketDeviceDirectory();
        if (DeviceDirectoryError(dir) != ERROR_SUCCESS)
            return;
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string name = e->d_name;
                if (name == "." || name == "..")
                    continue;
                struct stat st {};
                if (::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
                    names.push_back(std::move(name));
            }
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());

        // Ask every socket first and collect the answers afterwards, under one limit.
        std::vector<std::pair<std::string, std::shared_ptr<Connection>>> asked;
        for (const auto& name : names) {
            std::string path = dir + "/" + name;
            uint32_t error = ERROR_SUCCESS;
            auto c = Acquire(path, error);
            if (c == nullptr)
                continue;  // a socket left behind by a daemon that died
            std::unique_lock<std::mutex> lock(c->mutex);
            c->Receive();
            if (c->broken()) {
                // An idle connection to a daemon that has gone since: a new one may serve it.
                lock.unlock();
                Discard(path, c);
                c = Acquire(path, error);
                if (c == nullptr)
                    continue;
                lock = std::unique_lock<std::mutex>(c->mutex);
            }
            c->Queue(kHello, nullptr, 0);
            asked.emplace_back(std::move(path), std::move(c));
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(kProbeMs);
        for (auto& [path, c] : asked) {
            Message ack;
            bool answered;
            {
                std::lock_guard<std::mutex> lock(c->mutex);
                answered = c->AwaitAck(kHelloAck, deadline, ack);
            }
            if (!answered) {
                Discard(path, c);
                continue;
            }
            if (ack.body.size() < 16 || !(DecodeGuid(ack.body.data()) == interfaceClass))
                continue;
            DeviceListing l;
            l.path = path;
            l.interfaceClass = interfaceClass;
            out.push_back(std::move(l));
        }
    }
};

}  // namespace

void SetSocketWaitLimitForTesting(uint32_t limitMs) {
    waitLimitMs = limitMs;
}

SocketWaitExpiries TakeSocketWaitExpiriesForTesting() {
    std::lock_guard<std::mutex> lock(expiriesMutex);
    SocketWaitExpiries taken = expiries;
    expiries = {};
    return taken;
}

DeviceProvider& SocketProvider() {
    static Provider* p = new Provider;  // lives past static destruction
    return *p;
}

}  // namespace plat
