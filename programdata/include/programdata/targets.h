#pragma once
// The connected targets as the writer asks about them, one way everywhere: through the
// library's flat functions, with a refused call counting as "no", "none" or 0.
#include <cstdint>
#include <optional>
#include <string>

#include "brindlex/flash_status.h"

namespace programdata::targets {

// Targets 1 .. Count() are connected.
int Count();
bool Enabled(int target);
// The target got through Plug (identity, firmware and protection).
bool Plugged(int target);
FlashStatus Status(int target);
void SetStatus(int target, uint32_t status);
bool AnyEnabled();
// The adapter's device path; nothing when the library holds none.
std::optional<std::string> DevicePath(int target);

// The library's texts come in two calls: the size first, then the text. Anything longer than
// longest is no text we show. fetch(buffer, size, needed) answers the library's 1/0.
template <class Fetch>
std::optional<std::string> FetchText(Fetch fetch, uint32_t longest) {
    uint32_t needed = 0;
    if (fetch(nullptr, 0, needed) == 0 || needed == 0 || needed > longest)
        return std::nullopt;
    std::string text(needed, '\0');
    uint32_t again = needed;
    if (fetch(text.data(), needed, again) == 0 || again > needed)
        return std::nullopt;
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

// for (int n : targets::EnabledOnes()) ...: the targets of 1 .. Count() that pass a filter,
// asked while iterating.
class Range {
  public:
    enum class Filter { All, Enabled, Plugged };
    class iterator {
      public:
        int operator*() const { return target_; }
        iterator& operator++() {
            target_ = range_->Next(target_ + 1);
            return *this;
        }
        bool operator!=(const iterator& other) const { return target_ != other.target_; }

      private:
        friend class Range;
        iterator(const Range* range, int target) : range_(range), target_(target) {}
        const Range* range_;
        int target_;
    };
    explicit Range(Filter filter) : filter_(filter), count_(Count()) {}
    iterator begin() const { return {this, Next(1)}; }
    iterator end() const { return {this, count_ + 1}; }
    bool empty() const { return Next(1) > count_; }

  private:
    int Next(int from) const;
    Filter filter_;
    int count_;
};
inline Range All() {
    return Range(Range::Filter::All);
}
inline Range EnabledOnes() {
    return Range(Range::Filter::Enabled);
}
inline Range PluggedOnes() {
    return Range(Range::Filter::Plugged);
}

}  // namespace programdata::targets
