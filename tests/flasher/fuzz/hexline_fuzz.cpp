// libFuzzer: random files through the HEX line reader.
#include "flasher/hexreader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string copy(reinterpret_cast<const char*>(data), size);
    std::FILE* f = size ? ::fmemopen(copy.data(), size, "rb") : ::fmemopen(nullptr, 1, "w+b");
    if (!f)
        return 0;
    burnport::HexLineReader reader(f);
    std::string piece;
    std::size_t pieces = 0;
    while (reader.next(piece)) {
        if (piece.size() > burnport::HexPieceLimit || piece.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            __builtin_trap();
        if (++pieces > size + 1)
            __builtin_trap(); // every piece consumes at least one byte
    }
    std::fclose(f);
    return 0;
}
