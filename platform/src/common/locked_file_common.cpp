// The parts of LockedFile that do not depend on how the file is held, and the content
// fingerprint (both builds).
#include <cstring>
#include <utility>

#include "platform/locked_file.h"

namespace plat {

LockedFile::~LockedFile() {
    Close();
}

LockedFile::LockedFile(LockedFile&& other) noexcept {
    *this = std::move(other);
}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        device_ = other.device_;
        inode_ = other.inode_;
        size_ = other.size_;
        mtimeSec_ = other.mtimeSec_;
        mtimeNsec_ = other.mtimeNsec_;
        hash_ = other.hash_;
    }
    return *this;
}

bool LockedFile::Open(const std::string& path) {
    std::vector<char> content;
    return OpenAndRead(path, content);
}

bool LockedFile::Open(const std::string& path, std::vector<char>& content) {
    return OpenAndRead(path, content);
}

bool LockedFile::SameAs(const LockedFile& other) const {
    return fd_ >= 0 && other.fd_ >= 0 && device_ == other.device_ && inode_ == other.inode_ &&
           size_ == other.size_ && mtimeSec_ == other.mtimeSec_ && mtimeNsec_ == other.mtimeNsec_ &&
           hash_ == other.hash_;
}

namespace {

constexpr uint64_t kMul1 = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kMul3 = 0x165667B19E3779F9ull;

inline uint64_t Rotl(uint64_t v, int s) {
    return (v << s) | (v >> (64 - s));
}

inline uint64_t Load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

uint64_t FingerprintBytes(const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t h0 = kMul1 + length, h1 = kMul2, h2 = kMul3, h3 = ~kMul1;
    size_t n = length;
    // Four independent lanes keep the multiplier busy.
    while (n >= 32) {
        h0 = Rotl(h0 ^ (Load64(p) * kMul2), 29) * kMul1;
        h1 = Rotl(h1 ^ (Load64(p + 8) * kMul2), 29) * kMul1;
        h2 = Rotl(h2 ^ (Load64(p + 16) * kMul2), 29) * kMul1;
        h3 = Rotl(h3 ^ (Load64(p + 24) * kMul2), 29) * kMul1;
        p += 32;
        n -= 32;
    }
    uint64_t h = h0 ^ Rotl(h1, 7) ^ Rotl(h2, 13) ^ Rotl(h3, 19);
    while (n >= 8) {
        h = Rotl(h ^ (Load64(p) * kMul2), 31) * kMul1;
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        h = Rotl(h ^ (uint64_t(*p) * kMul3), 11) * kMul1;
        ++p;
        --n;
    }
    h ^= h >> 33;
    h *= kMul2;
    h ^= h >> 29;
    h *= kMul3;
    h ^= h >> 32;
    return h;
}

}  // namespace plat
