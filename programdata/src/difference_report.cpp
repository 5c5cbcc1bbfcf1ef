#include "programdata/difference_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace programdata {

namespace {

constexpr char kHeading[] = "\tAddress   File      Flash\n\t==========================\n";

struct Run {
    uint64_t start;
    uint64_t end;  // inclusive
};

// The addresses of [first, last] that are compared, as ascending, disjoint runs: the memory
// areas (which may overlap and come in any order) less the test data area.
std::vector<Run> ComparedRuns(const TargetGeometry& geometry, uint64_t first, uint64_t last) {
    std::vector<Run> areas;
    for (const TargetArea& a : geometry.areas) {
        const uint64_t start = std::max<uint64_t>(a.start, first);
        const uint64_t end = std::min<uint64_t>(a.end, last);
        if (start <= end)
            areas.push_back({start, end});
    }
    std::sort(areas.begin(), areas.end(),
              [](const Run& x, const Run& y) { return x.start < y.start; });
    std::vector<Run> merged;
    for (const Run& r : areas) {
        if (!merged.empty() && r.start <= merged.back().end + 1)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    if (!geometry.hasTestArea())
        return merged;
    const uint64_t testStart = geometry.testAreaStart();
    const uint64_t testEnd = geometry.testAreaEnd();
    std::vector<Run> runs;
    for (const Run& r : merged) {
        if (r.end < testStart || r.start > testEnd) {
            runs.push_back(r);
            continue;
        }
        if (r.start < testStart)
            runs.push_back({r.start, testStart - 1});
        if (r.end > testEnd)
            runs.push_back({testEnd + 1, r.end});
    }
    return runs;
}

void AppendLine(std::string& text, uint64_t address, uint8_t file, uint8_t flash) {
    char line[64];
    std::snprintf(line, sizeof line, "\t%05lXH    %02XH       %02XH\n", (unsigned long)address,
                  unsigned(file), unsigned(flash));
    text += line;
}

}  // namespace

bool CompareImages(const TargetGeometry& geometry, const ProgramImage& writeImage,
                   const ProgramImage& flashImage, uint32_t first, uint32_t last, OperationLog& log,
                   const ComparePump& pump, uint32_t& differences) {
    differences = 0;
    if (first > geometry.flashLimit)
        return true;
    // Never beyond either image, whatever the geometry says.
    const uint64_t imageEnd = std::min(writeImage.size(), flashImage.size());
    if (imageEnd == 0)
        return true;
    const uint64_t end = std::min<uint64_t>({last, geometry.flashLimit, imageEnd - 1});
    if (first > end)
        return true;

    const std::vector<Run> runs = ComparedRuns(geometry, first, end);
    const uint8_t* fileBytes = writeImage.data();
    const uint8_t* flashBytes = flashImage.data();
    std::string text;
    size_t next = 0;  // first run that may still meet a chunk
    for (uint64_t chunk = first; chunk <= end; chunk += kCompareChunk) {
        if (pump && pump())
            return true;
        const uint64_t chunkEnd = std::min<uint64_t>(chunk + kCompareChunk - 1, end);
        while (next < runs.size() && runs[next].end < chunk)
            ++next;
        for (size_t i = next; i < runs.size() && runs[i].start <= chunkEnd; ++i) {
            const uint64_t lo = std::max(runs[i].start, chunk);
            const uint64_t hi = std::min(runs[i].end, chunkEnd);
            if (std::memcmp(fileBytes + lo, flashBytes + lo, size_t(hi - lo + 1)) == 0)
                continue;
            for (uint64_t a = lo; a <= hi; ++a) {
                if (fileBytes[a] == flashBytes[a])
                    continue;
                if (differences == 0)
                    text += kHeading;
                AppendLine(text, a, fileBytes[a], flashBytes[a]);
                ++differences;
            }
        }
        // A chunk's lines go out together, before the next pump can end the comparison.
        if (!text.empty()) {
            log.WriteLogText(text);
            text.clear();
        }
    }
    return differences == 0;
}

}  // namespace programdata
