#pragma once

// Default content a fresh simulated device starts with.

#include "tools/VxCodec.h"

#include <cstdint>

namespace vx {

// The configuration in the full layout (one record, type 0x82).
Bytes DefaultFullRecord();
// The same configuration in the compact layout (numbered files 590/595, type 0x78).
Bytes DefaultCompactRecord();
// An I/Q table image with three rows (numbered file 600, type 0x78).
Bytes DefaultIqTable();

// Little helpers shared with the device.
void PutU8(Bytes &b, unsigned v);
void PutU16(Bytes &b, unsigned v);
void PutU32(Bytes &b, std::uint32_t v);
void PutText(Bytes &b, const char *text);

} // namespace vx
