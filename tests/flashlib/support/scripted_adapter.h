#pragma once
// A tiny in-process adapter whose answers a test scripts frame by frame: it records every
// request frame and control request, and replies to each request with a scripted answer
// or, by default, with a "CHPM" frame built by a responder from the request payload.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/inproc_device.h"

namespace test {

using Bytes = std::vector<uint8_t>;

// A reply frame: "CHPM" 0x01, sequence, zeros, length, payload.
Bytes ReplyFrame(uint8_t sequence, const Bytes& payload);
// The payload of a request frame (bytes 16 and on).
Bytes PayloadOf(const Bytes& frame);

struct ControlCall {
    int pipe;
    uint32_t code;
    Bytes in;
    uint32_t outSize;
};

class ScriptedAdapter : public plat::InprocDevice {
  public:
    // What the adapter does with the read that follows a request.
    struct Answer {
        enum Kind { kBytes, kNever, kFail } kind = kBytes;
        Bytes bytes;
        uint32_t error = plat::ERROR_GEN_FAILURE;
    };
    using Script = std::function<Answer(const Bytes& request)>;
    // Reply payload for a request payload; the default answers status 0 alone.
    using Responder = std::function<Bytes(const Bytes& payload)>;

    // Answers to the next requests, in order, before the responder takes over.
    std::deque<Script> script;
    Responder responder;
    // Results of the next writes, in order; by default every byte is taken at once.
    std::deque<plat::InprocIo> writeResults;
    // Writes never complete while set.
    bool writesStuck = false;
    // Opening the device itself, or a pipe, fails with this while non-zero.
    uint32_t deviceOpenError = 0;
    uint32_t pipeOpenError = 0;
    // A control request returns at most this many bytes.
    uint32_t controlReturnLimit = UINT32_MAX;

    std::vector<Bytes> requests;        // every frame written, in order
    std::vector<ControlCall> controls;  // every control request, in order
    std::vector<uint32_t> writeSizes;   // every write call's length
    std::vector<uint32_t> readSizes;    // every read call's length

    // Shorthands for scripts.
    static Script Reply(Bytes frame);
    static Script NoReply();
    static Script ReplyWith(std::function<Bytes(uint8_t sequence, const Bytes& payload)> make);

    uint32_t Open(int pipe) override;
    plat::InprocIo Write(const uint8_t* data, uint32_t length) override;
    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override;
    uint32_t Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                     uint32_t outSize, uint32_t& returned) override;

    // Codes of the control requests seen, in order.
    std::vector<uint32_t> ControlCodes() const;

  private:
    bool answered_ = true;
    Answer pending_;
};

// Registers the device for the adapters' interface class under a fresh in-process path and
// returns the path.
std::string RegisterAdapter(std::shared_ptr<plat::InprocDevice> device, const std::string& name);

}  // namespace test
