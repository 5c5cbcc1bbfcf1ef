#include "vexilsim/sim_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "brindlex/vexil_protocol.h"
#include "platform/file_content.h"
#include "platform/socket_device.h"

namespace vexilsim {

namespace {

using namespace plat::sockdev;

constexpr size_t kReceiveChunk = 64 * 1024;
constexpr int kBacklog = 64;

uint64_t NowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

// What an epoll event belongs to: the kind in the top byte, an index or id below.
enum Tag : uint64_t { kListenTag = 1, kClientTag = 2, kTimerTag = 3, kStopTag = 4, kSignalTag = 5 };
uint64_t Key(Tag tag, uint64_t id) {
    return (uint64_t{tag} << 56) | id;
}

bool MakeDirectories(const std::string& dir, unsigned mode, std::string& error) {
    uint32_t code = 0;
    if (plat::MakeDirectories(dir, mode, code))
        return true;
    error = "cannot create the directory " + dir + ": " + std::strerror(errno);
    return false;
}

struct Pending {
    uint64_t due;
    uint64_t order;
    uint64_t client;
    uint64_t generation;  // of the client when the frame arrived; a reset voids older ones
    size_t adapter;
    ReplyFrame reply;
};

// Min-heap on (due, order): replies leave in time order, and in arrival order at equal times.
struct Later {
    bool operator()(const Pending& a, const Pending& b) const {
        return a.due != b.due ? a.due > b.due : a.order > b.order;
    }
};

struct Client {
    int fd = -1;
    size_t adapter = 0;
    uint64_t generation = 0;
    std::vector<uint8_t> in = std::vector<uint8_t>(kReceiveChunk);
    size_t inStart = 0;
    size_t inEnd = 0;
    std::vector<uint8_t> out;
    size_t outStart = 0;
    bool watchingOut = false;
};

struct Served {
    std::string path;
    int listenFd = -1;
    bool created = false;  // the socket file is ours to remove
    dev_t dev = 0;
    ino_t ino = 0;
    bool gone = false;
    uint64_t busyUntil = 0;  // the adapter works through its commands one after another
};

}  // namespace

struct SimServer::Impl {
    SimServer& server;
    int ep = -1;
    int timerFd = -1;
    int stopFd = -1;
    // Held in reserve: when the descriptors run out, it makes room to take a waiting
    // connection off the queue and close it, instead of spinning on a listening socket that
    // stays readable.
    int spareFd = -1;
    std::vector<Served> served;
    std::unordered_map<uint64_t, Client> clients;
    uint64_t nextClient = 1;
    uint64_t order = 0;
    std::vector<Pending> heap;
    uint64_t armedFor = 0;
    bool stopping = false;
    uint64_t startUs = NowUs();

    explicit Impl(SimServer& s) : server(s) {}

    ~Impl() {
        for (auto& [id, c] : clients)
            ::close(c.fd);
        clients.clear();
        for (auto& s : served) {
            if (s.listenFd >= 0)
                ::close(s.listenFd);
            RemoveSocketFile(s);
        }
        for (int fd : {ep, timerFd, stopFd, spareFd})
            if (fd >= 0)
                ::close(fd);
    }

    SimAdapter& adapter(size_t i) { return *server.adapters_[i].adapter; }
    const std::string& name(size_t i) { return server.adapters_[i].name; }

    // Only the file this server bound: a successor may have bound the same path since.
    static void RemoveSocketFile(Served& s) {
        if (!s.created)
            return;
        struct stat st {};
        if (::lstat(s.path.c_str(), &st) == 0 && st.st_dev == s.dev && st.st_ino == s.ino)
            ::unlink(s.path.c_str());
        s.created = false;
    }

    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        FILE* f = server.options_.trace;
        if (f == nullptr)
            return;
        std::fprintf(f, "%11.6f ", static_cast<double>(NowUs() - startUs) / 1e6);
        va_list args;
        va_start(args, format);
        std::vfprintf(f, format, args);
        va_end(args);
        std::fputc('\n', f);
    }

    void Watch(int fd, uint32_t events, uint64_t key, int op = EPOLL_CTL_ADD) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = key;
        ::epoll_ctl(ep, op, fd, &ev);
    }

    bool Listen(std::string& error) {
        const auto& opts = server.options_;
        if (!MakeDirectories(opts.deviceDir, 0700, error))
            return false;
        // The programs refuse such a directory too: another user could serve adapters there.
        std::string why;
        if (!plat::IsPrivateDirectory(opts.deviceDir, why)) {
            error = "the device directory " + opts.deviceDir + " " + why +
                    "; it must belong to this user and be writable by nobody else";
            return false;
        }
        for (size_t i = 0; i < server.adapters_.size(); ++i) {
            Served s;
            s.path = server.SocketPath(i);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            if (s.path.size() >= sizeof addr.sun_path) {
                error = s.path + ": the socket path is too long";
                return false;
            }
            std::memcpy(addr.sun_path, s.path.c_str(), s.path.size() + 1);
            struct stat st {};
            if (::lstat(s.path.c_str(), &st) == 0) {
                if (!S_ISSOCK(st.st_mode)) {
                    error = s.path + " exists and is not a socket";
                    return false;
                }
                int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                int r = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
                int err = errno;
                ::close(probe);
                if (r == 0) {
                    error = s.path + " is already served by a running vexil-sim";
                    return false;
                }
                if (err != ECONNREFUSED) {
                    error = s.path + ": " + std::strerror(err);
                    return false;
                }
                ::unlink(s.path.c_str());  // left behind by a daemon that died
            }
            s.listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (s.listenFd < 0 ||
                ::bind(s.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                error = s.path + ": " + std::strerror(errno);
                if (s.listenFd >= 0)
                    ::close(s.listenFd);
                return false;
            }
            s.created = true;
            if (::lstat(s.path.c_str(), &st) == 0) {
                s.dev = st.st_dev;
                s.ino = st.st_ino;
            }
            served.push_back(s);
            if (::listen(s.listenFd, kBacklog) != 0) {
                error = s.path + ": " + std::strerror(errno);
                return false;
            }
        }
        ep = ::epoll_create1(EPOLL_CLOEXEC);
        timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (ep < 0 || timerFd < 0 || stopFd < 0 || spareFd < 0) {
            error = std::string("cannot set up the event loop: ") + std::strerror(errno);
            return false;
        }
        for (size_t i = 0; i < served.size(); ++i)
            Watch(served[i].listenFd, EPOLLIN, Key(kListenTag, i));
        Watch(timerFd, EPOLLIN, Key(kTimerTag, 0));
        Watch(stopFd, EPOLLIN, Key(kStopTag, 0));
        if (opts.signalFd >= 0)
            Watch(opts.signalFd, EPOLLIN, Key(kSignalTag, 0));
        return true;
    }

    void Run() {
        epoll_event events[64];
        while (!stopping) {
            ArmTimer();
            int n = ::epoll_wait(ep, events, 64, -1);
            if (n < 0 && errno != EINTR)
                break;
            for (int k = 0; k < n && !stopping; ++k) {
                uint64_t key = events[k].data.u64;
                uint64_t id = key & ((uint64_t{1} << 56) - 1);
                switch (static_cast<Tag>(key >> 56)) {
                    case kListenTag:
                        Accept(id);
                        break;
                    case kClientTag:
                        OnClient(id, events[k].events);
                        break;
                    case kTimerTag: {
                        uint64_t expirations;
                        [[maybe_unused]] ssize_t r = ::read(timerFd, &expirations, 8);
                        armedFor = 0;
                        break;
                    }
                    case kStopTag:
                        stopping = true;
                        break;
                    case kSignalTag:
                        OnSignal();
                        break;
                }
            }
            DeliverDue(NowUs());
        }
    }

    void ArmTimer() {
        uint64_t due = heap.empty() ? 0 : heap.front().due;
        if (due == armedFor)
            return;
        itimerspec timer{};
        if (due != 0) {
            timer.it_value.tv_sec = static_cast<time_t>(due / 1000000u);
            timer.it_value.tv_nsec = static_cast<long>(due % 1000000u) * 1000;
        }
        ::timerfd_settime(timerFd, due != 0 ? TFD_TIMER_ABSTIME : 0, &timer, nullptr);
        armedFor = due;
    }

    void OnSignal() {
        signalfd_siginfo info{};
        while (::read(server.options_.signalFd, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGUSR1) {
                std::string error;
                if (server.options_.dumpDir.empty()) {
                    std::fprintf(stderr, "vexil-sim: nothing dumped: no --dump-dir\n");
                } else if (server.DumpFlash(error)) {
                    if (server.options_.notify)
                        server.options_.notify("dumped");
                } else {
                    std::fprintf(stderr, "vexil-sim: %s\n", error.c_str());
                }
            } else {
                stopping = true;
            }
        }
    }

    void Accept(size_t index) {
        Served& s = served[index];
        for (;;) {
            int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR)
                    continue;
                if ((errno == EMFILE || errno == ENFILE) && RefuseOne(s))
                    continue;
                return;  // EAGAIN, or a client that gave up
            }
            if (s.gone) {
                ::close(fd);
                continue;
            }
            uint64_t id = nextClient++;
            Client& c = clients[id];
            c.fd = fd;
            c.adapter = index;
            Watch(fd, EPOLLIN, Key(kClientTag, id));
        }
    }

    // Out of descriptors: the host sees its connection end at once rather than wait for an
    // answer that cannot come.
    bool RefuseOne(Served& s) {
        if (spareFd < 0)
            return false;
        ::close(spareFd);
        int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        std::fprintf(stderr, "vexil-sim: out of file descriptors, a connection to %s closed\n",
                     s.path.c_str());
        return true;
    }

    void CloseClient(uint64_t id) {
        auto it = clients.find(id);
        if (it == clients.end())
            return;
        ::epoll_ctl(ep, EPOLL_CTL_DEL, it->second.fd, nullptr);
        ::close(it->second.fd);
        clients.erase(it);
    }

    void OnClient(uint64_t id, uint32_t events) {
        auto it = clients.find(id);
        if (it == clients.end())
            return;
        if (events & EPOLLOUT)
            Flush(id, it->second);
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            Receive(id);
    }

    void Receive(uint64_t id) {
        for (;;) {
            auto it = clients.find(id);
            if (it == clients.end())
                return;
            Client& c = it->second;
            if (c.in.size() - c.inEnd < kReceiveChunk / 4) {
                std::memmove(c.in.data(), c.in.data() + c.inStart, c.inEnd - c.inStart);
                c.inEnd -= c.inStart;
                c.inStart = 0;
                if (c.in.size() - c.inEnd < kReceiveChunk / 4)
                    c.in.resize(c.in.size() * 2);
            }
            size_t room = c.in.size() - c.inEnd;
            ssize_t r = ::recv(c.fd, c.in.data() + c.inEnd, room, MSG_DONTWAIT);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (r <= 0) {
                CloseClient(id);
                return;
            }
            c.inEnd += static_cast<size_t>(r);
            if (!ParseMessages(id))
                return;
            if (static_cast<size_t>(r) < room)
                return;
        }
    }

    // Handles every complete message; false when the client is gone.
    bool ParseMessages(uint64_t id) {
        Message m;
        for (;;) {
            auto it = clients.find(id);
            if (it == clients.end())
                return false;
            Client& c = it->second;
            bool bad = false;
            if (!TakeMessage(c.in.data(), c.inEnd, c.inStart, m, bad)) {
                if (bad) {
                    CloseClient(id);
                    return false;
                }
                if (c.inStart == c.inEnd)
                    c.inStart = c.inEnd = 0;
                return true;
            }
            Handle(id, c, m);
        }
    }

    void Send(uint64_t id, Client& c, uint8_t type, const std::vector<uint8_t>& body) {
        AppendMessage(c.out, type, body);
        Flush(id, c);
    }

    void Flush(uint64_t id, Client& c) {
        while (c.outStart < c.out.size()) {
            ssize_t r = ::send(c.fd, c.out.data() + c.outStart, c.out.size() - c.outStart,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r > 0) {
                c.outStart += static_cast<size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!c.watchingOut) {
                    Watch(c.fd, EPOLLIN | EPOLLOUT, Key(kClientTag, id), EPOLL_CTL_MOD);
                    c.watchingOut = true;
                }
                return;
            }
            CloseClient(id);  // the host went away; its replies go nowhere
            return;
        }
        c.out.clear();
        c.outStart = 0;
        if (c.watchingOut) {
            Watch(c.fd, EPOLLIN, Key(kClientTag, id), EPOLL_CTL_MOD);
            c.watchingOut = false;
        }
    }

    static std::vector<uint8_t> U32(uint32_t v) {
        std::vector<uint8_t> b;
        PutU32(b, v);
        return b;
    }

    void Handle(uint64_t id, Client& c, const Message& m) {
        const size_t a = c.adapter;
        SimAdapter& sim = adapter(a);
        switch (m.type) {
            case kHello: {
                std::vector<uint8_t> body;
                EncodeGuid(body, server.options_.interfaceClass);
                body.insert(body.end(), name(a).begin(), name(a).end());
                Send(id, c, kHelloAck, body);
                break;
            }
            case kOpen: {
                uint32_t error = plat::ERROR_SUCCESS;
                if (!sim.connected())
                    error = plat::ERROR_FILE_NOT_FOUND;
                else if (sim.TakeOpenRefusal(false))
                    error = plat::ERROR_ACCESS_DENIED;
                else
                    ++c.generation;  // opening resets the device: queued replies are void
                Trace("%s open%s", name(a).c_str(), error == 0 ? "" : " refused");
                Send(id, c, kOpenAck, U32(error));
                break;
            }
            case kControl: {
                if (m.body.size() < 8) {
                    CloseClient(id);
                    return;
                }
                uint32_t code = GetU32(m.body.data());
                sim.NoteControl(code);
                uint8_t flags = 0;
                if (code == vexil::IOCTL_RESET_DEVICE) {
                    ++c.generation;
                    flags = 1;
                }
                Trace("%s control %06X", name(a).c_str(), code);
                std::vector<uint8_t> body = U32(plat::ERROR_SUCCESS);
                body.push_back(flags);
                Send(id, c, kControlAck, body);
                break;
            }
            case kFrame:
                OnFrame(id, c, m.body);
                break;
            default:
                CloseClient(id);  // not a host of ours
                break;
        }
    }

    void OnFrame(uint64_t id, Client& c, const std::vector<uint8_t>& frame) {
        const size_t a = c.adapter;
        SimAdapter& sim = adapter(a);
        std::optional<ReplyFrame> reply = sim.HandleFrame(frame.data(), frame.size());
        if (server.options_.trace != nullptr) {
            CommandKind kind = frame.size() >= vexil::kHeaderSize
                                   ? DecodeCommand(frame.data() + vexil::kHeaderSize,
                                                   frame.size() - vexil::kHeaderSize)
                                   : CommandKind::kInvalid;
            Trace("%s <- #%u seq %u %s, %zu bytes%s", name(a).c_str(), sim.framesReceived(),
                  frame.size() > 5 ? frame[5] : 0u, CommandKindName(kind), frame.size(),
                  reply ? "" : ", no reply");
        }
        if (!sim.connected()) {
            Unplug(a);
            return;
        }
        if (!reply)
            return;
        uint64_t now = NowUs();
        Served& s = served[a];
        uint64_t due = std::max(now, s.busyUntil) + reply->durationUs;
        s.busyUntil = due;
        heap.push_back({due, ++order, id, c.generation, a, std::move(*reply)});
        std::push_heap(heap.begin(), heap.end(), Later());
    }

    void DeliverDue(uint64_t now) {
        while (!heap.empty() && heap.front().due <= now) {
            std::pop_heap(heap.begin(), heap.end(), Later());
            Pending p = std::move(heap.back());
            heap.pop_back();
            auto it = clients.find(p.client);
            if (it == clients.end() || it->second.generation != p.generation)
                continue;
            const auto& bytes = p.reply.bytes;
            if (server.options_.trace != nullptr) {
                unsigned status = bytes.size() >= vexil::kHeaderSize + 2
                                      ? vexil::GetBE16(bytes.data() + vexil::kHeaderSize)
                                      : 0xFFFFu;
                Trace("%s -> #%u seq %u status %04X, %zu bytes", name(p.adapter).c_str(),
                      p.reply.frameNumber, bytes.size() > 5 ? bytes[5] : 0u, status, bytes.size());
            }
            Send(p.client, it->second, kReply, bytes);
        }
    }

    // The adapter disappears as an unplugged device does: its socket file goes, its
    // connections close, and nothing answers on its path any more.
    void Unplug(size_t a) {
        Served& s = served[a];
        if (s.gone)
            return;
        s.gone = true;
        Trace("%s disconnected", name(a).c_str());
        std::fprintf(stderr, "vexil-sim: %s disconnected\n", name(a).c_str());
        ::epoll_ctl(ep, EPOLL_CTL_DEL, s.listenFd, nullptr);
        ::close(s.listenFd);
        s.listenFd = -1;
        RemoveSocketFile(s);
        std::vector<uint64_t> ids;
        for (auto& [id, c] : clients)
            if (c.adapter == a)
                ids.push_back(id);
        for (uint64_t id : ids)
            CloseClient(id);
    }
};

SimServer::SimServer(std::vector<AdapterSetup> adapters, ServerOptions options)
    : adapters_(std::move(adapters)), options_(std::move(options)) {}

SimServer::~SimServer() = default;

std::string SimServer::SocketPath(size_t index) const {
    return options_.deviceDir + "/" + adapters_.at(index).name;
}

bool SimServer::Listen(std::string& error) {
    impl_ = std::make_unique<Impl>(*this);
    if (!impl_->Listen(error)) {
        impl_.reset();  // removes what was created
        return false;
    }
    return true;
}

void SimServer::Run() {
    if (impl_ != nullptr)
        impl_->Run();
}

void SimServer::Stop() {
    if (impl_ == nullptr)
        return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(impl_->stopFd, &one, sizeof one);
}

std::string SimServer::DumpFileName(const std::string& adapterName) {
    return adapterName + ".bin";
}

bool SimServer::DumpFlash(std::string& error) {
    if (options_.dumpDir.empty())
        return true;
    if (!MakeDirectories(options_.dumpDir, 0755, error))
        return false;
    for (const auto& a : adapters_)
        if (!WriteFlashDump(options_.dumpDir + "/" + DumpFileName(a.name),
                            a.adapter->chip().contents(), error))
            return false;
    return true;
}

}  // namespace vexilsim
