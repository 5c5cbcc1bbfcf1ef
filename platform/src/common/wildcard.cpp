#include "wildcard.h"

namespace plat {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

// Greedy with one backtracking point, so the time stays linear in practice.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        WildcardMatch(pattern.substr(0, pattern.size() - 2), name))
        return true;
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace plat
