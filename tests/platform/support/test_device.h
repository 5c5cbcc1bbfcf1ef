#pragma once
// A scripted in-process device for the device-I/O and enumeration tests.
#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/inproc_device.h"

namespace testdev {

class ScriptedDevice : public plat::InprocDevice {
  public:
    // How the next reads and writes are answered when no data decides it.
    plat::InprocIo::Kind readMode = plat::InprocIo::kNow;
    plat::InprocIo::Kind writeMode = plat::InprocIo::kNow;
    uint32_t failError = plat::ERROR_GEN_FAILURE;
    uint32_t refuseOpen = plat::ERROR_SUCCESS;
    bool connected = true;

    std::vector<std::vector<uint8_t>> written;
    std::vector<int> opened, closed;
    struct ControlCall {
        int pipe;
        uint32_t code;
        std::vector<uint8_t> in;
    };
    std::vector<ControlCall> controls;

    void Queue(std::vector<uint8_t> packet) {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(std::move(packet));
    }

    uint32_t Open(int pipe) override {
        if (refuseOpen != plat::ERROR_SUCCESS)
            return refuseOpen;
        opened.push_back(pipe);
        return plat::ERROR_SUCCESS;
    }
    void Close(int pipe) override { closed.push_back(pipe); }

    plat::InprocIo Write(const uint8_t* data, uint32_t length) override {
        if (writeMode != plat::InprocIo::kNow)
            return Answer(writeMode);
        written.emplace_back(data, data + length);
        return plat::InprocIo::Now(length);
    }

    // Each read takes one queued packet (a short packet when it is shorter than length).
    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readMode != plat::InprocIo::kNow || packets_.empty())
            return Answer(readMode == plat::InprocIo::kNow ? plat::InprocIo::kNever : readMode);
        std::vector<uint8_t> p = std::move(packets_.front());
        packets_.pop_front();
        uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(p.size()));
        std::copy(p.begin(), p.begin() + n, buffer);
        return plat::InprocIo::Now(n);
    }

    uint32_t Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                     uint32_t outSize, uint32_t& returned) override {
        controls.push_back({pipe, code, std::vector<uint8_t>(in, in + inSize)});
        // Answers with the input reversed, so a test sees that input and output were apart.
        returned = std::min(inSize, outSize);
        for (uint32_t i = 0; i < returned; ++i)
            out[i] = in[inSize - 1 - i];
        return code == 0xDEAD ? plat::ERROR_GEN_FAILURE : plat::ERROR_SUCCESS;
    }

    bool IsConnected() override { return connected; }

  private:
    plat::InprocIo Answer(plat::InprocIo::Kind kind) {
        switch (kind) {
            case plat::InprocIo::kNotYet:
                return plat::InprocIo::NotYet();
            case plat::InprocIo::kFail:
                return plat::InprocIo::Fail(failError);
            default:
                return plat::InprocIo::Never();
        }
    }

    std::mutex mutex_;
    std::deque<std::vector<uint8_t>> packets_;
};

}  // namespace testdev
