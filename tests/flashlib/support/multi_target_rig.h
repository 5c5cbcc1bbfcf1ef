#pragma once
// Several simulated adapters behind the exported API: the connection is created through
// ApiCreateConnect and dropped again on destruction, and the frame trace is rendered so
// that the send-all-then-collect order of the all-target operations can be compared.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "brindlex/brindlex.h"
#include "brindlex/vexil_protocol.h"
#include "support/sample_target.h"
#include "vexilsim/inproc_adapter.h"

namespace mtrig {

using vexilsim::CommandKind;
using vexilsim::TraceEntry;
using Bytes = std::vector<uint8_t>;

class Rig {
  public:
    explicit Rig(int count, const CTargetInfo& info = Description())
        : info_(info), bench_(info, count, &VEXIL_INTERFACE_GUID) {
        Connect();
    }
    Rig(std::vector<vexilsim::SimChip> chips, const CTargetInfo& info)
        : info_(info), bench_(std::move(chips), &VEXIL_INTERFACE_GUID) {
        Connect();
    }
    ~Rig() { ApiDelConnect(); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    int connectResult() const { return connectResult_; }
    vexilsim::SimBench& bench() { return bench_; }
    vexilsim::SimChip& chip(int n) { return bench_.chip(n - 1); }
    vexilsim::SimAdapter& adapter(int n) { return bench_.adapter(n - 1); }
    TRGINFO* set() { return &set_; }
    const CTargetInfo& info() const { return info_; }

    // The writer's plug sequence for target n, ending with the protection read.
    void Plug(int n) {
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        ApiCheckTargetName(n, &set_, info_.name);
        ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiCheckFirm(n);
        uint16_t protect = 1;
        ApiObj.IsTargetProtected(n, protect);
    }
    void PlugAll() {
        for (int n = 1; n <= bench_.size(); ++n) {
            Plug(n);
        }
        bench_.ClearTraces();
    }

    int Status(int n) {
        int s = -1;
        ApiGetTargetStatus(n, &s);
        return s;
    }
    int PlugState(int n) {
        int s = -1;
        ApiGetTargetPlugStatus(n, &s);
        return s;
    }

    // Requests of one kind that adapter n received, in order.
    std::vector<TraceEntry> Requests(int n, CommandKind kind) {
        std::vector<TraceEntry> out;
        for (TraceEntry& e : adapter(n).trace()) {
            if (e.direction == TraceEntry::kReceived && e.kind == kind) {
                out.push_back(std::move(e));
            }
        }
        return out;
    }

    // The frames of one kind over all adapters as rounds "receivers>repliers", each a list of
    // target numbers in the order the frames crossed: "1,2,3>1,2,3 1,3>1,3" means every
    // request of a round reached its adapter before the first reply of that round was read.
    std::string Rounds(CommandKind kind) {
        std::map<int, int> number;
        for (int i = 0; i < bench_.size(); ++i) {
            number[bench_.adapter(i).id()] = i + 1;
        }
        std::string out;
        std::string receivers;
        std::string repliers;
        auto flush = [&] {
            if (!receivers.empty() || !repliers.empty()) {
                out += (out.empty() ? "" : " ") + receivers + ">" + repliers;
            }
            receivers.clear();
            repliers.clear();
        };
        for (const TraceEntry& e : bench_.trace()) {
            if (e.kind != kind) {
                continue;
            }
            std::string& list = e.direction == TraceEntry::kReceived ? receivers : repliers;
            if (e.direction == TraceEntry::kReceived && !repliers.empty()) {
                flush();
            }
            list += (list.empty() ? "" : ",") + std::to_string(number[e.adapter]);
        }
        flush();
        return out;
    }

  private:
    void Connect() {
        set_.count = 1;
        set_.entries = &info_;
        connectResult_ = ApiCreateConnect();
    }

    CTargetInfo info_;
    TRGINFO set_{};
    vexilsim::SimBench bench_;
    int connectResult_ = 0;
};

// Address and length of a write-flash request.
inline uint32_t WriteAddress(const TraceEntry& e) {
    Bytes p = e.payload();
    return p.size() >= 8 ? vexil::GetBE32(p.data() + 4) : 0;
}
inline uint32_t WriteLength(const TraceEntry& e) {
    Bytes p = e.payload();
    return p.size() >= 11 ? vexil::GetBE16(p.data() + 9) : 0;
}

inline Bytes Pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    }
    return b;
}

inline Bytes Flash(vexilsim::SimChip& chip, uint32_t address, size_t size) {
    const Bytes& all = chip.contents();
    if (address + size > all.size()) {
        return {};
    }
    return Bytes(all.begin() + address, all.begin() + address + size);
}

}  // namespace mtrig
