// Sizes and limits shared by the shift job, the control-file scan and the sector rewriter.
#pragma once

#include <stdint.h>

// A raw CD sector: 588 stereo samples of 16 bits each.
constexpr int32_t SECTOR_SIZE = 2352;
constexpr int32_t SAMPLE_SIZE = 4;

// The shift in samples as the user types it; the byte shift is -4 times that.
constexpr int32_t MIN_SHIFT = -2348;
constexpr int32_t MAX_SHIFT = 2348;
constexpr int32_t MAX_BYTE_SHIFT = -SAMPLE_SIZE * MIN_SHIFT;  // 9392

// Paths and text lines live in buffers of this size, NUL included.
constexpr int32_t PATH_BUFFER_SIZE = 1024;
constexpr int32_t TEXT_BUFFER_SIZE = 1024;
constexpr int32_t MAX_PATH_LENGTH = PATH_BUFFER_SIZE - 1;

// Sector numbers where audio and data regions begin, alternately, closed by END_SENTINEL.
constexpr int32_t BOUNDARY_LIST_SIZE = 200;
constexpr int32_t END_SENTINEL = 0x7FFFFFFF;
using BoundaryList = int32_t[BOUNDARY_LIST_SIZE];

// The rewriter reports progress and looks for a cancel every this many sectors.
constexpr int32_t PROGRESS_INTERVAL = 1024;
constexpr int32_t PUMP_LIMIT = 16;
