#pragma once
// Test firmware: random bytes turned into an S-record file by srec_cat.
#include <cstdint>
#include <string>
#include <vector>

namespace flashertest {

struct Firmware {
    std::string path;
    std::vector<std::uint8_t> data;
    std::uint32_t base = 0;
};

// form: 19 (16-bit addresses), 28 (24-bit) or 37 (32-bit); recordBytes: data per line.
// Throws when srec_cat fails.
Firmware makeFirmware(const std::string& dir, int form, int recordBytes, std::size_t size,
                      std::uint32_t base = 0x1000, unsigned seed = 1);

} // namespace flashertest
