#pragma once
// Save Memory: one target's packed flash content as an Intel HEX file.
#include <cstdint>
#include <string>

#include "programdata/reporter.h"
#include "programdata/target_geometry.h"

namespace programdata {

// The Intel HEX text of the packed content: the memory areas in table order, data records of
// at most 16 bytes that never cross a 16-byte boundary, an extended segment address record
// whenever the 64 KiB bank changes, and the end record; CR LF line ends, upper-case digits.
// Segment records reach 1 MiB: banks above it are set with extended linear address records.
// The test data area's bytes, which follow the area that holds the anchor, are left out.
// Nothing is read beyond packedSize: areas the content does not reach get no records.
std::string FormatMemoryHex(const TargetGeometry& geometry, const uint8_t* packed,
                            uint32_t packedSize);

// Writes that text to path. The file appears whole or not at all: a failure leaves an existing
// file as it was and no partial file behind. 2058 when the file cannot be created (or an
// existing one is not readable and writable), 2059 when writing fails, 2060 when closing
// fails, each through reporter. True when saved.
bool SaveMemoryHexFile(const std::string& path, const TargetGeometry& geometry,
                       const uint8_t* packed, uint32_t packedSize, ProgramDataReporter& reporter);

}  // namespace programdata
