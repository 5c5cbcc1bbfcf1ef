#pragma once
// The difference report of Verify: the write image against the flash image read back from a
// target, one log line per differing byte.
#include <cstdint>
#include <functional>

#include "programdata/operation_log.h"
#include "programdata/program_image.h"
#include "programdata/target_geometry.h"

namespace programdata {

// Keeps the window alive during a comparison: handles waiting input and answers true when a
// cancel was requested.
using ComparePump = std::function<bool()>;

// Addresses compared between two pumps. One turn of the event loop per address would make a
// large flash compare at event-loop speed.
constexpr uint32_t kCompareChunk = 4096;

// Compares [first, last] (last clipped to the flash limit), skipping addresses in no memory
// area and in the test data area. Before the first difference of the call it writes the two
// heading lines, then one line per differing byte in address order, through log.WriteLogText.
// pump runs before every chunk of kCompareChunk addresses; a cancel stops the comparison.
// True when no byte differs, when first lies above the flash limit, when the range is empty
// or when it was cancelled; differences receives the number of lines written.
bool CompareImages(const TargetGeometry& geometry, const ProgramImage& writeImage,
                   const ProgramImage& flashImage, uint32_t first, uint32_t last, OperationLog& log,
                   const ComparePump& pump, uint32_t& differences);

}  // namespace programdata
