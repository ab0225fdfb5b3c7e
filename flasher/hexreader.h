#pragma once
// Reads a HEX file the way the module receives it: a piece ends after a line end or
// after 79 characters, so an overlong line goes out as several pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace burnport {

inline constexpr std::size_t HexPieceLimit = 79;

class HexLineReader {
public:
    explicit HexLineReader(std::FILE* file) : file_(file) {}
    // The next piece without its line end (LF, CR LF, CRs before an LF, or a lone
    // CR), cut at a NUL byte.
    // False at the end of the file or on a read error.
    bool next(std::string& piece);
    // The last false was a read error, not the end of the file.
    bool failed() const { return failed_; }

private:
    std::FILE* file_;
    bool failed_ = false;
    std::uint64_t emptyLines_ = 0; // from a run of CRs without an LF
};

} // namespace burnport
