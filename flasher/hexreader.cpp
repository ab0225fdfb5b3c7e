#include "hexreader.h"

namespace burnport {

bool HexLineReader::next(std::string& piece)
{
    piece.clear();
    if (!file_)
        return false;
    if (emptyLines_ > 0) {
        --emptyLines_;
        return true;
    }
    bool ended = false;
    while (piece.size() < HexPieceLimit) {
        int c = std::getc(file_);
        if (c == EOF)
            break;
        if (c == '\n') {
            ended = true;
            break;
        }
        if (c == '\r') {
            // A run of CRs before an LF is one line end (a file converted twice has
            // CR CR LF); without the LF each CR ends a line, as old Mac files have it.
            std::uint64_t crs = 1;
            int after = std::getc(file_);
            for (; after == '\r'; after = std::getc(file_))
                ++crs;
            if (after == '\n')
                crs = 1;
            else if (after != EOF)
                std::ungetc(after, file_);
            emptyLines_ = crs - 1;
            ended = true;
            break;
        }
        piece.push_back(static_cast<char>(c));
    }
    if (std::ferror(file_)) {
        failed_ = true; // a piece cut short by the error is not sent
        return false;
    }
    if (!ended && piece.empty())
        return false; // end of file
    // The line is text: a NUL byte ends it.
    if (auto nul = piece.find('\0'); nul != std::string::npos)
        piece.resize(nul);
    return true;
}

} // namespace burnport
