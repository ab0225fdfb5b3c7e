#include "hexreader.h"

namespace burnport {

bool HexLineReader::next(std::string& piece)
{
    piece.clear();
    if (!file_)
        return false;
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
            // CR LF is one line end; a lone CR ends a line too, or a file with old
            // Mac line ends would go out as fragments no module accepts.
            int after = std::getc(file_);
            if (after != '\n' && after != EOF)
                std::ungetc(after, file_);
            ended = true;
            break;
        }
        piece.push_back(static_cast<char>(c));
    }
    if (std::ferror(file_))
        return false;
    if (!ended && piece.empty())
        return false; // end of file
    // The line is text: a NUL byte ends it.
    if (auto nul = piece.find('\0'); nul != std::string::npos)
        piece.resize(nul);
    return true;
}

} // namespace burnport
