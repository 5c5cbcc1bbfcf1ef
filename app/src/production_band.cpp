#include "app/production_band.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/private_profile.h"
#include "programdata/status_texts.h"

using namespace programdata;

namespace {

constexpr const char* kSection = "Yield";
// Target numbers run from 1 to 32.
constexpr int kMaxTarget = 32;

std::string Elapsed(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%u", ms / 60000, ms / 1000 % 60, ms / 100 % 10);
    return text;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "2:1,4:3" to the map; pairs that do not parse are skipped.
std::map<int, uint32_t> ParseFails(const std::string& text) {
    std::map<int, uint32_t> fails;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos)
            end = text.size();
        unsigned target = 0, count = 0;
        if (std::sscanf(text.substr(at, end - at).c_str(), "%u:%u", &target, &count) == 2 &&
            target >= 1 && target <= kMaxTarget && count > 0)
            fails[int(target)] = count;
        at = end + 1;
    }
    return fails;
}

}  // namespace

void YieldCounters::Count(const std::vector<Board>& boards) {
    lastCycleFailed_ = false;
    for (const Board& b : boards) {
        if (b.failed) {
            ++failed_;
            ++failsByTarget_[b.target];
            lastCycleFailed_ = true;
        } else {
            ++passed_;
        }
    }
}

void YieldCounters::Reset() {
    *this = YieldCounters();
}

std::string YieldCounters::CountsText() const {
    char text[96];
    const uint64_t boards = uint64_t(passed_) + failed_;
    if (boards == 0)
        std::snprintf(text, sizeof text, "Passed %u   Failed %u   Yield --", passed_, failed_);
    else
        std::snprintf(text, sizeof text, "Passed %u   Failed %u   Yield %.1f %%", passed_, failed_,
                      100.0 * double(passed_) / double(boards));
    return text;
}

std::string YieldCounters::FailsText() const {
    if (failsByTarget_.empty())
        return {};
    std::string text = "Fails by target ";
    for (const auto& [target, count] : failsByTarget_)
        text += "  " + std::to_string(target) + ": " + std::to_string(count);
    return text;
}

void YieldCounters::Load(const std::string& path) {
    *this = YieldCounters();
    passed_ = plat::GetPrivateProfileIntA(kSection, "PASSED", 0, path.c_str());
    failed_ = plat::GetPrivateProfileIntA(kSection, "FAILED", 0, path.c_str());
    lastCycleFailed_ = plat::GetPrivateProfileIntA(kSection, "LASTFAILED", 0, path.c_str()) == 1;
    char fails[512] = {};
    plat::GetPrivateProfileStringA(kSection, "FAILS", "", fails, sizeof fails, path.c_str());
    failsByTarget_ = ParseFails(fails);
}

bool YieldCounters::Save(const std::string& path) const {
    std::string fails;
    for (const auto& [target, count] : failsByTarget_)
        fails += (fails.empty() ? "" : ",") + std::to_string(target) + ":" + std::to_string(count);
    // Only what changed: each write replaces the whole file.
    YieldCounters stored;
    stored.Load(path);
    bool ok = true;
    auto put = [&](const char* key, bool changed, const std::string& value) {
        if (changed && ok)
            ok = plat::WritePrivateProfileStringA(kSection, key, value.c_str(), path.c_str());
    };
    put("PASSED", stored.passed_ != passed_, std::to_string(passed_));
    put("FAILED", stored.failed_ != failed_, std::to_string(failed_));
    put("FAILS", stored.failsByTarget_ != failsByTarget_, fails);
    put("LASTFAILED", stored.lastCycleFailed_ != lastCycleFailed_, lastCycleFailed_ ? "1" : "0");
    return ok;
}

std::string ProgressText(const OperationProgress& p) {
    std::string text = std::string(OperationName(p.operation));
    if (p.operation == kOperationWrite)
        text += "  block " + std::to_string(p.done) + " / " + std::to_string(p.total);
    else if (p.operation == kOperationVerify && p.target == 0)
        text += "  reading  block " + std::to_string(p.done) + " / " + std::to_string(p.total);
    else if (p.operation == kOperationVerify)
        text += "  target " + std::to_string(p.target) + "  " + BaseName(p.file);
    return text + "   " + Elapsed(p.elapsedMs);
}

void ProductionBand::Load(const std::string& statePath) {
    statePath_ = statePath;
    counters_.Load(statePath);
    ShowCounters();
}

bool ProductionBand::CountBoards(const std::vector<YieldCounters::Board>& boards) {
    // quorvel-cli may have counted boards since: add to what the file holds now. A file that
    // cannot be written (so does not exist) leaves the counts of this run in memory.
    if (!statePath_.empty() && plat::FileExists(statePath_.c_str()))
        counters_.Load(statePath_);
    counters_.Count(boards);
    ShowCounters();
    return statePath_.empty() || counters_.Save(statePath_);
}

bool ProductionBand::Reset() {
    counters_.Reset();
    ShowCounters();
    return statePath_.empty() || counters_.Save(statePath_);
}

void ProductionBand::ShowCounters() {
    state_.yieldText = counters_.CountsText();
    state_.failsText = counters_.FailsText();
    state_.lastCycleFailed = counters_.lastCycleFailed();
    view_.ShowProductionBand(state_);
}

void ProductionBand::OnProgress(const OperationProgress& progress) {
    state_.progressShown = true;
    state_.progressDone = progress.done;
    state_.progressTotal = progress.total;
    state_.progressText = ProgressText(progress);
    view_.ShowProductionBand(state_);
}

void ProductionBand::OnIdle() {
    if (!state_.progressShown)
        return;
    state_.progressShown = false;
    state_.progressDone = state_.progressTotal = 0;
    state_.progressText.clear();
    view_.ShowProductionBand(state_);
}
