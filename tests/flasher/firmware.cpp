#include "firmware.h"

#include "tests/support/simport.h"

#include <cstdlib>
#include <random>
#include <stdexcept>

namespace flashertest {

Firmware makeFirmware(const std::string& dir, int form, int recordBytes, std::size_t size, std::uint32_t base,
                      unsigned seed)
{
    Firmware fw;
    fw.base = base;
    std::mt19937 rng(seed);
    fw.data.resize(size);
    for (auto& b : fw.data)
        b = static_cast<std::uint8_t>(rng());
    std::string stem = dir + "/fw" + std::to_string(form) + "_" + std::to_string(recordBytes) + "_" +
                       std::to_string(seed);
    testsupport::writeFile(stem + ".bin", std::string(fw.data.begin(), fw.data.end()));
    fw.path = stem + ".s" + std::to_string(form);
    int addressLength = form == 19 ? 2 : form == 28 ? 3 : 4;
    std::string cmd = "srec_cat '" + stem + ".bin' -binary -offset " + std::to_string(base) + " -o '" + fw.path +
                      "' -motorola -address-length=" + std::to_string(addressLength) +
                      " -obs=" + std::to_string(recordBytes) +
                      " -execution-start-address=" + std::to_string(base);
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("srec_cat failed: " + cmd);
    return fw;
}

} // namespace flashertest
