#include "vexilsim/pipe_adapter.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe_security.h"
// Win32 headers after every header of the system (they define ERROR_* and friends as macros).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace vexilsim {

namespace {

std::atomic<int> serial{0};

// Waits for an overlapped operation on h or for stop; false when stopped or failed.
bool Finish(HANDLE h, OVERLAPPED& ov, HANDLE stop, DWORD& n) {
    HANDLE events[2] = {ov.hEvent, stop};
    if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIo(h);
        ::GetOverlappedResult(h, &ov, &n, TRUE);
        return false;
    }
    return ::GetOverlappedResult(h, &ov, &n, FALSE) != FALSE;
}

}  // namespace

struct PipeAdapter::Server {
    std::shared_ptr<SimAdapter> adapter;
    std::string path;
    std::string error;  // set before the listeners report ready
    // Only this user may open the pipes, and the program can tell who made them.
    plat::PrivatePipeSecurity security;
    // Held while the firmware handles a frame, so a copy of the flash is never half written.
    mutable std::mutex frameMutex;
    HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int opens = 0;  // guarded by mutex

    mutable std::mutex mutex;
    std::condition_variable replyReady;
    std::condition_variable progress;  // a frame was taken or the device opened
    std::deque<ReplyFrame> replies;

    std::mutex threadsMutex;
    std::vector<std::thread> threads;

    // Listeners whose first instance exists: the device is there once all three are.
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    int listening = 0;

    void NoteListening(const std::string& failed = {}) {
        std::lock_guard<std::mutex> lock(readyMutex);
        if (!failed.empty() && error.empty())
            error = failed;
        ++listening;
        readyChanged.notify_all();
    }

    // Several instances of name listen at once, and one that gets a client is replaced at
    // once: a host that closes and reopens quickly (as CUsbPipe does between exchanges)
    // always finds one. Each client is served on a thread of its own.
    void Listen(const std::string& name, DWORD mode, std::function<void(HANDLE)> serve) {
        constexpr int kSlots = 4;
        HANDLE pipes[kSlots] = {};
        OVERLAPPED waits[kSlots] = {};
        // The first instance must be the name's first: never serve beside another program.
        DWORD first = FILE_FLAG_FIRST_PIPE_INSTANCE;
        auto* attributes = static_cast<LPSECURITY_ATTRIBUTES>(security.attributes());
        if (attributes == nullptr) {
            NoteListening(name + " cannot be made private to this user");
            return;
        }
        auto arm = [&](int i) {
            pipes[i] =
                ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
                                   mode | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, attributes);
            first = 0;
            waits[i] = OVERLAPPED{};
            waits[i].hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (pipes[i] != INVALID_HANDLE_VALUE && !::ConnectNamedPipe(pipes[i], &waits[i]) &&
                ::GetLastError() == ERROR_PIPE_CONNECTED)
                ::SetEvent(waits[i].hEvent);
        };
        arm(0);
        if (pipes[0] == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            ::CloseHandle(waits[0].hEvent);
            NoteListening(name + (code == ERROR_ACCESS_DENIED
                                      ? " is served by another program"
                                      : " cannot be created (error " + std::to_string(code) + ")"));
            return;
        }
        for (int i = 1; i < kSlots; ++i)
            arm(i);
        NoteListening();
        for (;;) {
            HANDLE events[kSlots + 1];
            for (int i = 0; i < kSlots; ++i)
                events[i] = waits[i].hEvent;
            events[kSlots] = stop;
            const DWORD which = ::WaitForMultipleObjects(kSlots + 1, events, FALSE, INFINITE);
            if (which >= WAIT_OBJECT_0 + kSlots)
                break;
            const int i = static_cast<int>(which - WAIT_OBJECT_0);
            HANDLE h = pipes[i];
            ::CloseHandle(waits[i].hEvent);
            arm(i);
            std::lock_guard<std::mutex> lock(threadsMutex);
            threads.emplace_back([serve, h] {
                serve(h);
                ::DisconnectNamedPipe(h);
                ::CloseHandle(h);
            });
        }
        for (int i = 0; i < kSlots; ++i) {
            ::CancelIo(pipes[i]);
            ::CloseHandle(pipes[i]);
            ::CloseHandle(waits[i].hEvent);
        }
    }

    // The device itself: a connection is an open; it ends when the host closes. The open
    // cannot reset the adapter as a driver would: this thread starts after the host already
    // goes on, so dropping queued replies here could drop the reply to its next request.
    void ServeDevice(HANDLE h) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++opens;
        }
        progress.notify_all();
        WaitForClose(h);
    }

    void WaitForClose(HANDLE h) {
        char byte;
        OVERLAPPED ov{};
        ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD n = 0;
        while (::ReadFile(h, &byte, 1, &n, &ov) ||
               (::GetLastError() == ERROR_IO_PENDING && Finish(h, ov, stop, n))) {
        }
        ::CloseHandle(ov.hEvent);
    }

    // PIPE00: every message is one request frame for the firmware.
    void ServeWrites(HANDLE h) {
        std::vector<uint8_t> frame;
        std::vector<uint8_t> chunk(65536);
        OVERLAPPED ov{};
        ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (;;) {
            DWORD n = 0;
            BOOL ok = ::ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &n, &ov);
            DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                ok = Finish(h, ov, stop, n);
                error = ok ? ERROR_SUCCESS : ::GetLastError();
            }
            if (!ok && error != ERROR_MORE_DATA)
                break;
            frame.insert(frame.end(), chunk.begin(), chunk.begin() + n);
            if (error == ERROR_MORE_DATA)
                continue;
            std::optional<ReplyFrame> reply;
            {
                std::lock_guard<std::mutex> lock(frameMutex);
                reply = adapter->HandleFrame(frame.data(), frame.size());
            }
            frame.clear();
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (reply)
                    replies.push_back(std::move(*reply));
            }
            replyReady.notify_all();
            progress.notify_all();
        }
        ::CloseHandle(ov.hEvent);
    }

    // PIPE01: the oldest reply goes to the host reading it. A host that gave up (time-out,
    // cancel) and closed the pipe leaves the reply queued for the next reader.
    void ServeReads(HANDLE h) {
        for (;;) {
            // A host that went away must not take the next reply with it.
            DWORD available = 0;
            if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr))
                return;
            ReplyFrame reply;
            {
                std::unique_lock<std::mutex> lock(mutex);
                replyReady.wait_for(lock, std::chrono::milliseconds(10),
                                    [this] { return !replies.empty(); });
                if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)
                    return;
                if (replies.empty())
                    continue;
                reply = std::move(replies.front());
                replies.pop_front();
            }
            OVERLAPPED ov{};
            ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
            DWORD n = 0;
            BOOL ok =
                ::WriteFile(h, reply.bytes.data(), static_cast<DWORD>(reply.bytes.size()), &n, &ov);
            if (!ok && ::GetLastError() == ERROR_IO_PENDING)
                ok = Finish(h, ov, stop, n);
            ::CloseHandle(ov.hEvent);
            if (!ok) {
                std::lock_guard<std::mutex> lock(mutex);
                replies.push_front(std::move(reply));
                return;
            }
            adapter->NoteReplyDelivered(reply);
        }
    }
};

PipeAdapter::PipeAdapter(std::shared_ptr<SimAdapter> adapter, std::string path)
    : server_(std::make_unique<Server>()) {
    server_->adapter = std::move(adapter);
    server_->path = !path.empty()
                        ? std::move(path)
                        : "\\\\.\\pipe\\vexil-" + std::to_string(::GetCurrentProcessId()) + "-" +
                              std::to_string(++serial);
    Server* s = server_.get();
    const DWORD bytes = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE;
    const DWORD messages = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE;
    std::lock_guard<std::mutex> lock(s->threadsMutex);
    s->threads.emplace_back(
        [s, bytes] { s->Listen(s->path, bytes, [s](HANDLE h) { s->ServeDevice(h); }); });
    s->threads.emplace_back([s, messages] {
        s->Listen(s->path + "\\PIPE00", messages, [s](HANDLE h) { s->ServeWrites(h); });
    });
    s->threads.emplace_back([s, bytes] {
        s->Listen(s->path + "\\PIPE01", bytes, [s](HANDLE h) { s->ServeReads(h); });
    });
    std::unique_lock<std::mutex> ready(s->readyMutex);
    s->readyChanged.wait(ready, [s] { return s->listening == 3; });
}

PipeAdapter::~PipeAdapter() {
    ::SetEvent(server_->stop);
    server_->replyReady.notify_all();
    // Listeners add serving threads until they see the stop: join until none is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(server_->threadsMutex);
            threads.swap(server_->threads);
        }
        if (threads.empty())
            break;
        for (auto& t : threads)
            t.join();
    }
    ::CloseHandle(server_->stop);
}

bool PipeAdapter::serving() const {
    return server_->error.empty();
}

const std::string& PipeAdapter::error() const {
    return server_->error;
}

std::vector<uint8_t> PipeAdapter::FlashContents() const {
    std::lock_guard<std::mutex> lock(server_->frameMutex);
    return server_->adapter->chip().contents();
}

const std::string& PipeAdapter::path() const {
    return server_->path;
}

SimAdapter& PipeAdapter::adapter() {
    return *server_->adapter;
}

int PipeAdapter::deviceOpens() const {
    std::lock_guard<std::mutex> lock(server_->mutex);
    return server_->opens;
}

bool PipeAdapter::WaitForFrames(uint32_t n) {
    std::unique_lock<std::mutex> lock(server_->mutex);
    return server_->progress.wait_for(lock, std::chrono::seconds(5), [this, n] {
        return server_->adapter->framesReceived() >= n;
    });
}

bool PipeAdapter::WaitForDeviceOpens(int n) {
    std::unique_lock<std::mutex> lock(server_->mutex);
    return server_->progress.wait_for(lock, std::chrono::seconds(5),
                                      [this, n] { return server_->opens >= n; });
}

size_t PipeAdapter::queuedReplies() const {
    std::lock_guard<std::mutex> lock(server_->mutex);
    return server_->replies.size();
}

}  // namespace vexilsim
