#include "platform/device_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "event.h"
#include "platform/device_provider.h"

namespace plat {

namespace {

// OVERLAPPED::Internal of a transfer still in progress; otherwise it holds the transfer's
// error code and InternalHigh its byte count.
constexpr uintptr_t kTransferPending = 0x103;

class FileObject;

// One pending overlapped transfer. Bound to its event so that a wait on the event drives it.
class PendingIo : public PendingSource {
  public:
    PendingIo(FileObject* file, OVERLAPPED* ov, std::unique_ptr<PendingTransfer> transfer)
        : file_(file), ov_(ov), event_(ov->hEvent), transfer_(std::move(transfer)) {}

    bool WaitFor(uint32_t ms) override;

    OVERLAPPED* ov() const { return ov_; }
    HANDLE event() const { return event_; }
    PendingTransfer& transfer() { return *transfer_; }

  private:
    FileObject* file_;
    OVERLAPPED* ov_;
    HANDLE event_;
    std::unique_ptr<PendingTransfer> transfer_;
};

Event* BoundEvent(PendingIo* io) {
    // The event may have been closed meanwhile; then there is nothing to signal.
    auto* event = LookupHandleAs<Event>(io->event());
    return event != nullptr && event->GetPendingSource() == io ? event : nullptr;
}

class FileObject : public KernelObject {
  public:
    FileObject(std::unique_ptr<DeviceFile> file, bool overlapped)
        : file_(std::move(file)), overlapped_(overlapped) {}

    ~FileObject() override {
        // Closing cancels what is still pending. The caller's OVERLAPPED records may be gone
        // already, so they are not written; their events are signalled.
        while (!pending_.empty()) {
            pending_.back()->transfer().Cancel();
            Finish(pending_.back().get(), 0, ERROR_OPERATION_ABORTED, false);
        }
    }

    DeviceFile& file() { return *file_; }
    bool overlapped() const { return overlapped_; }

    PendingIo* FindPending(const OVERLAPPED* ov) {
        for (auto& io : pending_)
            if (io->ov() == ov)
                return io.get();
        return nullptr;
    }

    void AddPending(std::unique_ptr<PendingIo> io) {
        if (auto* event = LookupHandleAs<Event>(io->event()))
            event->SetPendingSource(io.get());
        pending_.push_back(std::move(io));
    }

    // Records the outcome, signals the event and destroys the record.
    void Finish(PendingIo* io, uint32_t transferred, uint32_t error, bool writeOverlapped) {
        if (writeOverlapped) {
            io->ov()->Internal = error;
            io->ov()->InternalHigh = transferred;
        }
        if (Event* event = BoundEvent(io)) {
            event->SetPendingSource(nullptr);
            event->Set();
        }
        std::erase_if(pending_,
                      [io](const std::unique_ptr<PendingIo>& p) { return p.get() == io; });
    }

    void CancelAll() {
        while (!pending_.empty()) {
            pending_.back()->transfer().Cancel();
            Finish(pending_.back().get(), 0, ERROR_OPERATION_ABORTED, true);
        }
    }

  private:
    std::unique_ptr<DeviceFile> file_;
    bool overlapped_;
    std::vector<std::unique_ptr<PendingIo>> pending_;
};

bool PendingIo::WaitFor(uint32_t ms) {
    uint32_t transferred = 0;
    uint32_t error = ERROR_SUCCESS;
    if (!transfer_->Drive(ms, transferred, error))
        return false;
    file_->Finish(this, transferred, error, true);  // destroys this
    return true;
}

FileObject* LookupFile(HANDLE h) {
    auto* file = LookupHandleAs<FileObject>(h);
    if (file == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
}

void SignalEvent(OVERLAPPED* ov) {
    if (ov != nullptr && ov->hEvent != nullptr)
        SetEvent(ov->hEvent);
}

bool StartTransfer(HANDLE h, bool read, void* buffer, const void* data, uint32_t length,
                   uint32_t* transferred, OVERLAPPED* ov) {
    FileObject* file = LookupFile(h);
    if (file == nullptr)
        return false;
    if (transferred != nullptr)
        *transferred = 0;
    if (length != 0 && (read ? buffer == nullptr : data == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    bool async = ov != nullptr && file->overlapped();
    if (ov != nullptr) {
        if (file->FindPending(ov) != nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        ov->Internal = kTransferPending;
        ov->InternalHigh = 0;
        if (ov->hEvent != nullptr)
            ResetEvent(ov->hEvent);
    }
    IoStart start = read ? file->file().Read(buffer, length) : file->file().Write(data, length);
    if (start.kind == IoStart::kPending) {
        if (async) {
            file->AddPending(std::make_unique<PendingIo>(file, ov, std::move(start.pending)));
            return Fail(ERROR_IO_PENDING);
        }
        // A blocking call: wait for the transfer; one declared never to complete fails
        // instead of hanging the caller.
        uint32_t n = 0, error = ERROR_SUCCESS;
        if (start.pending->Drive(INFINITE, n, error)) {
            start = error == ERROR_SUCCESS ? IoStart::Done(n) : IoStart::Failed(error);
        } else {
            start.pending->Cancel();
            start = IoStart::Failed(ERROR_GEN_FAILURE);
        }
    }
    if (ov != nullptr) {
        ov->Internal = start.kind == IoStart::kDone ? ERROR_SUCCESS : start.error;
        ov->InternalHigh = start.transferred;
    }
    if (start.kind != IoStart::kDone)
        return Fail(start.error);
    if (transferred != nullptr)
        *transferred = start.transferred;
    SignalEvent(ov);
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace

HANDLE CreateFileA(const char* path, uint32_t access, uint32_t shareMode, void* securityAttributes,
                   uint32_t creationDisposition, uint32_t flags, HANDLE templateFile) {
    if (path == nullptr || *path == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string devicePath;
    int pipe = kDeviceItself;
    SplitPipePath(path, devicePath, pipe);
    DeviceProvider* provider = FindDeviceProvider(devicePath);
    if (provider == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    uint32_t error = ERROR_SUCCESS;
    std::unique_ptr<DeviceFile> file = provider->Open(devicePath, pipe, access, error);
    if (file == nullptr) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = RegisterHandle(new FileObject(std::move(file), (flags & FILE_FLAG_OVERLAPPED) != 0));
    SetLastError(ERROR_SUCCESS);
    return h;
}

bool ReadFile(HANDLE h, void* buffer, uint32_t length, uint32_t* transferred, OVERLAPPED* ov) {
    return StartTransfer(h, true, buffer, nullptr, length, transferred, ov);
}

bool WriteFile(HANDLE h, const void* buffer, uint32_t length, uint32_t* transferred,
               OVERLAPPED* ov) {
    return StartTransfer(h, false, nullptr, buffer, length, transferred, ov);
}

bool GetOverlappedResult(HANDLE h, OVERLAPPED* ov, uint32_t* transferred, bool wait) {
    FileObject* file = LookupFile(h);
    if (file == nullptr)
        return false;
    if (ov == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (transferred != nullptr)
        *transferred = 0;
    if (ov->Internal == kTransferPending) {
        PendingIo* io = file->FindPending(ov);
        if (io == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        // A transfer that its provider declares never to complete fails the wait instead of
        // hanging it.
        if (!io->WaitFor(wait ? INFINITE : 0))
            return Fail(ERROR_IO_INCOMPLETE);
    }
    if (transferred != nullptr)
        *transferred = static_cast<uint32_t>(ov->InternalHigh);
    if (ov->Internal != ERROR_SUCCESS)
        return Fail(static_cast<uint32_t>(ov->Internal));
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CancelIo(HANDLE h) {
    FileObject* file = LookupFile(h);
    if (file == nullptr)
        return false;
    file->CancelAll();
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool DeviceIoControl(HANDLE h, uint32_t controlCode, void* inBuffer, uint32_t inSize,
                     void* outBuffer, uint32_t outSize, uint32_t* returned, OVERLAPPED* ov) {
    FileObject* file = LookupFile(h);
    if (file == nullptr)
        return false;
    if (returned != nullptr)
        *returned = 0;
    if ((inSize != 0 && inBuffer == nullptr) || (outSize != 0 && outBuffer == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    // The input is copied first: callers pass one buffer as input and output.
    std::vector<uint8_t> in(static_cast<uint8_t*>(inBuffer),
                            static_cast<uint8_t*>(inBuffer) + (inBuffer ? inSize : 0));
    uint32_t n = 0;
    uint32_t error = file->file().Control(controlCode, in.data(), inSize,
                                          static_cast<uint8_t*>(outBuffer), outSize, n);
    n = std::min(n, outSize);
    if (returned != nullptr)
        *returned = n;
    if (ov != nullptr) {
        ov->Internal = error;
        ov->InternalHigh = n;
        if (error == ERROR_SUCCESS)
            SignalEvent(ov);
    }
    if (error != ERROR_SUCCESS)
        return Fail(error);
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace plat
