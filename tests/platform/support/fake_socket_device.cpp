#include "support/fake_socket_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>

#include "platform/socket_device.h"

namespace testing_support {

using namespace plat::sockdev;

FakeSocketDevice::FakeSocketDevice(std::string path, plat::GUID interfaceClass)
    : path_(std::move(path)), class_(interfaceClass) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::pipe(wake_) != 0)
        throw std::runtime_error("cannot listen on " + path_);
    thread_ = std::thread([this] { Serve(); });
}

FakeSocketDevice::~FakeSocketDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    [[maybe_unused]] ssize_t r = ::write(wake_[1], "x", 1);
    thread_.join();
    for (int fd : clients_)
        ::close(fd);
    ::close(listenFd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    ::unlink(path_.c_str());
}

void FakeSocketDevice::SendLocked(int fd, uint8_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    AppendMessage(out, type, body);
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void FakeSocketDevice::Reply(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!clients_.empty())
        SendLocked(clients_.back(), kReply, bytes);
}

void FakeSocketDevice::DropConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clients_)
        ::shutdown(fd, SHUT_RDWR);
}

void FakeSocketDevice::Handle(int fd, uint8_t type, const std::vector<uint8_t>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> answer;
    switch (type) {
        case kHello:
            EncodeGuid(answer, class_);
            SendLocked(fd, kHelloAck, answer);
            break;
        case kOpen:
            ++opens_;
            PutU32(answer, openError.load());
            SendLocked(fd, kOpenAck, answer);
            break;
        case kControl: {
            uint32_t code = GetU32(body.data());
            controls_.emplace_back(code, std::vector<uint8_t>(body.begin() + 8, body.end()));
            PutU32(answer, 0);
            answer.push_back(code == resetCode.load() ? 1 : 0);
            answer.push_back(0xC5);  // one output byte, to see it copied
            SendLocked(fd, kControlAck, answer);
            break;
        }
        case kFrame:
            frames_.push_back(body);
            break;
    }
    changed_.notify_all();
}

void FakeSocketDevice::HoldReading(bool hold) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = hold;
    }
    [[maybe_unused]] ssize_t r = ::write(wake_[1], "h", 1);
}

void FakeSocketDevice::Serve() {
    std::map<int, std::vector<uint8_t>> pending;  // received bytes per connection
    for (;;) {
        std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return;
            if (!hold_) {
                for (int fd : clients_)
                    fds.push_back({fd, POLLIN, 0});
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            char drain[16];
            [[maybe_unused]] ssize_t r = ::read(wake_[0], drain, sizeof drain);
        }
        if (fds[1].revents & POLLIN) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                clients_.push_back(fd);
                ++accepts_;
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            int fd = fds[i].fd;
            uint8_t buf[8192];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
                ::close(fd);
                pending.erase(fd);
                continue;
            }
            auto& data = pending[fd];
            data.insert(data.end(), buf, buf + n);
            size_t start = 0;
            Message m;
            bool bad = false;
            while (TakeMessage(data.data(), data.size(), start, m, bad))
                Handle(fd, m.type, m.body);
            data.erase(data.begin(), data.begin() + static_cast<long>(start));
        }
    }
}

bool FakeSocketDevice::WaitForFrames(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return frames_.size() >= count; });
}

bool FakeSocketDevice::WaitForControls(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return controls_.size() >= count; });
}

std::vector<std::vector<uint8_t>> FakeSocketDevice::frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> FakeSocketDevice::controls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

int FakeSocketDevice::opens() {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

int FakeSocketDevice::accepts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepts_;
}

}  // namespace testing_support
