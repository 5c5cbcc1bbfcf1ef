#include "support/scripted_adapter.h"

#include <algorithm>
#include <cstring>

#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/vexil_protocol.h"

namespace test {

Bytes ReplyFrame(uint8_t sequence, const Bytes& payload) {
    Bytes frame(vexil::kHeaderSize + payload.size(), 0);
    std::memcpy(frame.data(), vexil::kReplyMagic, 4);
    frame[vexil::kOffVersion] = vexil::kFrameVersion;
    frame[vexil::kOffSequence] = sequence;
    vexil::PutLE32(frame.data() + vexil::kOffLength, static_cast<uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), frame.begin() + vexil::kHeaderSize);
    return frame;
}

Bytes PayloadOf(const Bytes& frame) {
    if (frame.size() <= vexil::kHeaderSize)
        return {};
    return Bytes(frame.begin() + vexil::kHeaderSize, frame.end());
}

ScriptedAdapter::Script ScriptedAdapter::Reply(Bytes frame) {
    return [frame](const Bytes&) { return Answer{Answer::kBytes, frame}; };
}

ScriptedAdapter::Script ScriptedAdapter::NoReply() {
    return [](const Bytes&) { return Answer{Answer::kNever, {}}; };
}

ScriptedAdapter::Script ScriptedAdapter::ReplyWith(
    std::function<Bytes(uint8_t sequence, const Bytes& payload)> make) {
    return [make](const Bytes& request) {
        return Answer{Answer::kBytes, make(request[vexil::kOffSequence], PayloadOf(request))};
    };
}

uint32_t ScriptedAdapter::Open(int pipe) {
    return pipe == -1 ? deviceOpenError : pipeOpenError;
}

plat::InprocIo ScriptedAdapter::Write(const uint8_t* data, uint32_t length) {
    writeSizes.push_back(length);
    if (writesStuck)
        return plat::InprocIo::Never();
    plat::InprocIo result = plat::InprocIo::Now(length);
    if (!writeResults.empty()) {
        result = writeResults.front();
        writeResults.pop_front();
    }
    if (result.kind != plat::InprocIo::kNow)
        return result;
    Bytes frame(data, data + std::min(length, result.bytes));
    requests.push_back(frame);
    if (!script.empty()) {
        pending_ = script.front()(frame);
        script.pop_front();
    } else {
        Bytes payload = responder ? responder(PayloadOf(frame)) : Bytes{0, 0};
        uint8_t sequence = frame.size() > vexil::kOffSequence ? frame[vexil::kOffSequence] : 0;
        pending_ = Answer{Answer::kBytes, ReplyFrame(sequence, payload)};
    }
    answered_ = false;
    return result;
}

plat::InprocIo ScriptedAdapter::Read(uint8_t* buffer, uint32_t length) {
    readSizes.push_back(length);
    if (answered_)
        return plat::InprocIo::Never();
    if (pending_.kind == Answer::kNever)
        return plat::InprocIo::Never();
    answered_ = true;
    if (pending_.kind == Answer::kFail)
        return plat::InprocIo::Fail(pending_.error);
    uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(pending_.bytes.size()));
    if (n != 0)
        std::memcpy(buffer, pending_.bytes.data(), n);
    return plat::InprocIo::Now(n);
}

uint32_t ScriptedAdapter::Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize,
                                  uint8_t* out, uint32_t outSize, uint32_t& returned) {
    controls.push_back({pipe, code, Bytes(in, in + inSize), outSize});
    returned = std::min(outSize, controlReturnLimit);
    return plat::ERROR_SUCCESS;
}

std::vector<uint32_t> ScriptedAdapter::ControlCodes() const {
    std::vector<uint32_t> codes;
    for (const auto& c : controls)
        codes.push_back(c.code);
    return codes;
}

std::string RegisterAdapter(std::shared_ptr<plat::InprocDevice> device, const std::string& name) {
    std::string path = std::string(plat::kInprocPathPrefix) + name;
    plat::InprocRegister(path, std::move(device), &VEXIL_INTERFACE_GUID);
    return path;
}

}  // namespace test
