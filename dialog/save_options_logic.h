// The rules of the Save Options dialog that do not need a window: quality steps and
// clamps, the correction of the mipmap count, and the packed word built at OK. The
// dialog procedure (save_options_dialog.cpp) calls them; they are unit-tested natively.
#pragma once

#include <cstdint>

namespace vellum {

constexpr int32_t kQualityMin = 1;
constexpr int32_t kQualityMax = 100;
constexpr int32_t kMipLevelsMin = 1;
constexpr int32_t kMipLevelsMax = 16;

// Thumb dragged to `position`: raised to 1, lowered to 100.
int32_t clampDraggedQuality(int32_t position);

// One line step left (-1) or right (+1) from the current position, kept in 1..100.
int32_t stepQuality(int32_t current, int32_t direction);

// The read-out text of a quality: "7", "42", "100" (at most 3 digits and a terminator).
void qualityText(int32_t quality, char text[4]);

// The mipmap edit after a change: the number it must show instead, or 0 when its text
// may stay. `value` is what GetDlgItemInt read (0 also for an empty or unreadable text).
uint32_t correctedMipLevels(uint32_t value);

// The word returned at OK. The progressive bit is set only for the JPEG formats (list
// indices 0 and 2); out-of-range selections fall back to the first entry.
uint32_t saveOptionsWordAtOk(int32_t quality, int32_t formatIndex, bool progressiveChecked, int32_t quantizerIndex,
                             int32_t mipLevels);

}  // namespace vellum
