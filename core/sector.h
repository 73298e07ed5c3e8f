// The geometry of a raw CD sector, shared by the shift job, the control-file scan and the sector
// rewriter.
#pragma once

#include <stdint.h>

// A raw CD sector: 588 stereo samples of 16 bits each.
constexpr int32_t SECTOR_SIZE = 2352;
constexpr int32_t SAMPLE_SIZE = 4;
