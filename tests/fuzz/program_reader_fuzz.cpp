// The HEX/S reader on arbitrary text at an offset taken from the input, against a 64 KiB
// target, a 128 KiB target with a read-only gap and a test data area, or a geometry made
// from the input. The reader's three walks (read, address check, occupancy marking) must
// agree with each other, store only up to the flash limit, and report exactly when they fail.
//
// Input: the selectors come from the back (FuzzedDataProvider), the file text is the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "programdata/program_image.h"
#include "programdata/program_reader.h"
#include "programdata/target_geometry.h"

namespace {

using namespace programdata;

constexpr uint32_t kMaxCustomImage = 0x40000;

class CountingReporter : public ProgramDataReporter {
  public:
    void Report(int, const std::string&, MessageIcon icon) override {
        FUZZ_CHECK(icon == MessageIcon::Error);
        ++count;
    }
    int count = 0;
};

CTargetInfo Entry(uint32_t id00, uint32_t id32, uint32_t id64,
                  std::initializer_list<TargetArea> areas) {
    CTargetInfo e;
    e.targetId00 = id00;
    e.targetId32 = id32;
    e.targetId64 = id64;
    e.areaCount = uint32_t(areas.size());
    uint32_t i = 0;
    for (const TargetArea& a : areas)
        e.areas[i++] = a;
    return e;
}

// The example targets QX16A064 and QX32F128.
const TargetGeometry& Fixed(int which) {
    static TargetGeometry small, large;
    static bool made = false;
    if (!made) {
        ComputeTargetGeometry(Entry(0x0A163064, 0x51040800, 0, {{0, 0xFDFF}}), small);
        ComputeTargetGeometry(
            Entry(0x4F321280, 0x52830800, 0x2800, {{0, 0x1EFFF}, {0x1F400, 0x1FBFF}}), large);
        made = true;
    }
    return which == 0 ? small : large;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t which = in.ConsumeIntegralInRange<uint8_t>(0, 2);
    int32_t offset = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            break;
        case 1:
            offset = in.ConsumeIntegralInRange<int32_t>(-0x20000, 0x20000);
            break;
        default:
            offset = in.ConsumeIntegral<int32_t>();
            break;
    }
    TargetGeometry custom;
    if (which == 2) {
        CTargetInfo e;
        e.targetId00 = in.ConsumeIntegral<uint32_t>();
        e.targetId32 = in.ConsumeIntegral<uint32_t>();
        e.targetId64 = in.ConsumeIntegral<uint32_t>();
        e.areaCount = in.ConsumeIntegralInRange<uint32_t>(0, 4);
        for (uint32_t i = 0; i < e.areaCount; ++i) {
            e.areas[i].start = in.ConsumeIntegralInRange<uint32_t>(0, kMaxCustomImage - 1);
            e.areas[i].end = in.ConsumeIntegralInRange<uint32_t>(0, kMaxCustomImage - 1);
        }
        if (ComputeTargetGeometry(e, custom) == GeometryVerdict::Refused ||
            custom.imageSize > kMaxCustomImage || custom.occupancyLimit() >= kMaxCustomImage)
            return 0;
    }
    const TargetGeometry& g = which == 2 ? custom : Fixed(which);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const std::string name = "fuzz.hex";

    // Kept between inputs: fresh blocks of this size for every input cost more than the reads.
    // An address was written when the reads over a 0x00 and a 0xFF base agree there.
    static ProgramImage zero, ones;
    if (zero.size() != g.imageSize) {
        zero.Allocate(g.imageSize);
        ones.Allocate(g.imageSize);
    }
    zero.Fill(0x00);
    ones.Fill(0xFF);

    CountingReporter r1, r2, r3, r4;
    const ReadResult read = ReadProgramText(text, name, offset, g, zero, r1);
    ReadResult both;
    AddressFlags bothFlags;
    ReadAndCheckProgramText(text, name, offset, offset, g, ones, r2, both, bothFlags);
    const AddressFlags flags = CheckProgramTextAddresses(text, name, offset, g, r3);

    // A failure is reported, a success is not.
    FUZZ_CHECK(read.ok == (r1.count == 0));
    FUZZ_CHECK(r1.count == r2.count);
    FUZZ_CHECK(both.ok == read.ok && both.lowestAddress == read.lowestAddress &&
               both.highestAddress == read.highestAddress);
    FUZZ_CHECK(flags.ok == bothFlags.ok && flags.noFlash == bothFlags.noFlash &&
               flags.testArea == bothFlags.testArea);
    FUZZ_CHECK(flags.ok == (r3.count == 0));
    if (read.ok)
        FUZZ_CHECK(flags.ok && read.lowestAddress != 0xFFFFFFFF);

    static std::vector<uint8_t> map;
    map.assign(size_t(g.occupancyLimit()) + 1, 0);
    const MarkResult mark =
        MarkProgramTextAddresses(text, name, 0, 0xFFFFFFFF, offset, g.flashLimit, map, r4);
    if (mark == MarkResult::Failed)
        FUZZ_CHECK(!flags.ok);
    if (mark == MarkResult::Marked)
        FUZZ_CHECK(flags.ok == (r4.count == 0) && flags.ok);

    const uint8_t* z = zero.data();
    const uint8_t* o = ones.data();
    for (uint32_t a = 0; a < g.imageSize; ++a) {
        // Eight unwritten bytes at a time (0x00 against 0xFF) are skipped.
        uint64_t zw, ow;
        if (a % 8 == 0 && a + 8 <= g.imageSize) {
            std::memcpy(&zw, z + a, 8);
            std::memcpy(&ow, o + a, 8);
            if ((zw ^ ow) == ~uint64_t{0}) {
                if (mark == MarkResult::Marked) {
                    for (uint32_t i = a; i < a + 8 && i < map.size(); ++i)
                        FUZZ_CHECK(map[i] == 0);
                }
                a += 7;
                continue;
            }
        }
        const bool written = z[a] == o[a];
        if (mark == MarkResult::Marked) {
            // Without a collision the marked addresses are exactly the stored ones.
            FUZZ_CHECK((a < map.size() && map[a] != 0) == written);
        }
        if (!written)
            continue;
        // Nothing lands above the flash limit, and every stored byte counts for the highest.
        FUZZ_CHECK(a <= g.flashLimit);
        FUZZ_CHECK(a <= read.highestAddress);
        if (!flags.noFlash)
            FUZZ_CHECK(g.IsFlashAddress(a));
        if (!flags.testArea)
            FUZZ_CHECK(!g.IsTestAreaAddress(a));
    }
    if (mark == MarkResult::Marked) {
        for (size_t a = g.imageSize; a < map.size(); ++a)
            FUZZ_CHECK(map[a] == 0);
    }
    return 0;
}
