#pragma once
// The log's two colours, as the log view stores them (red in the low byte).
#include <cstdint>

namespace LogColour {
inline constexpr std::uint32_t Black = 0;
inline constexpr std::uint32_t Red = 255;
} // namespace LogColour
