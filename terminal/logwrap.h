#pragma once
// How a log line breaks into rows on screen, as a text box with a vertical scroll bar
// only shows it: a LF, a CR or a CR LF inside the line starts a new row, and a row that
// would pass the width breaks after its last blank that fits, or else after its last
// character that fits. A line break at the very end of a line adds no empty row.
// Only the display wraps: the stored line keeps every byte.
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

class QFont;

class LineWrapper {
public:
    struct Row {
        std::size_t start;
        std::size_t length;  // without the line break that ends it
    };

    // The advance of each Latin-1 character, and the width a row may take.
    LineWrapper(const std::array<qreal, 256>& advances, qreal width);
    static LineWrapper forFont(const QFont& font, qreal width);

    qreal width() const { return width_; }
    std::size_t rowCount(std::string_view line) const;
    std::vector<Row> rows(std::string_view line) const;

private:
    template <typename OnRow>
    void walk(std::string_view line, OnRow&& onRow) const;
    // The end of the row that starts at start, in a stretch without line breaks.
    std::size_t rowEnd(std::string_view stretch, std::size_t start) const;

    std::array<qreal, 256> advances_;
    qreal width_;
};
