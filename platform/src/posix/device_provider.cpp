#include "platform/device_provider.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "inproc_provider.h"
#include "platform/socket_device.h"
#include "socket_provider.h"

namespace plat {

namespace {

struct RankedProvider {
    DeviceProvider* provider;
    int rank;
};

struct ProviderTable {
    std::mutex mutex;
    std::vector<RankedProvider> providers;  // sorted by rank, stable
};

ProviderTable& Table() {
    static ProviderTable* table = [] {
        auto* t = new ProviderTable;  // lives past static destruction
        t->providers.push_back({&InprocProvider(), 0});
        t->providers.push_back({&SocketProvider(), kSocketProviderRank});
        return t;
    }();
    return *table;
}

}  // namespace

void RegisterDeviceProvider(DeviceProvider* provider, int rank) {
    if (provider == nullptr)
        return;
    auto& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& p : t.providers)
        if (p.provider == provider)
            return;
    auto at = std::upper_bound(t.providers.begin(), t.providers.end(), rank,
                               [](int r, const RankedProvider& p) { return r < p.rank; });
    t.providers.insert(at, {provider, rank});
}

void UnregisterDeviceProvider(DeviceProvider* provider) {
    auto& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::erase_if(t.providers,
                  [provider](const RankedProvider& p) { return p.provider == provider; });
}

std::vector<DeviceProvider*> DeviceProviders() {
    auto& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::vector<DeviceProvider*> out;
    for (const auto& p : t.providers)
        out.push_back(p.provider);
    return out;
}

DeviceProvider* FindDeviceProvider(const std::string& devicePath) {
    for (DeviceProvider* p : DeviceProviders())
        if (p->ClaimsPath(devicePath))
            return p;
    return nullptr;
}

void SplitPipePath(const std::string& path, std::string& devicePath, int& pipe) {
    devicePath = path;
    pipe = kDeviceItself;
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos)
        return;
    std::string tail = path.substr(slash + 1);
    if (tail.size() < 5 || tail.size() > 9)
        return;
    for (size_t i = 0; i < 4; ++i)
        if (std::toupper(static_cast<unsigned char>(tail[i])) != "PIPE"[i])
            return;
    int index = 0;
    for (size_t i = 4; i < tail.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(tail[i])))
            return;
        index = index * 10 + (tail[i] - '0');
    }
    devicePath = path.substr(0, slash);
    pipe = index;
}

}  // namespace plat
