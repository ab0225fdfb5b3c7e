#include "logwrap.h"

#include <QFontMetricsF>

LineWrapper::LineWrapper(const std::array<qreal, 256>& advances, qreal width) : advances_(advances), width_(width) {}

LineWrapper LineWrapper::forFont(const QFont& font, qreal width)
{
    const QFontMetricsF metrics(font);
    std::array<qreal, 256> advances{};
    for (int c = 0; c < 256; ++c)
        advances[static_cast<std::size_t>(c)] = metrics.horizontalAdvance(QChar(c));
    return LineWrapper(advances, width);
}

std::size_t LineWrapper::rowEnd(std::string_view stretch, std::size_t start) const
{
    qreal used = 0;
    std::size_t end = start;
    std::size_t afterBlank = 0;
    while (end < stretch.size()) {
        const qreal advance = advances_[static_cast<unsigned char>(stretch[end])];
        // Every row takes at least one character, however narrow the view.
        if (end > start && used + advance > width_)
            return afterBlank > start ? afterBlank : end;
        used += advance;
        if (stretch[end] == ' ')
            afterBlank = end + 1;
        ++end;
    }
    return end;
}

template <typename OnRow>
void LineWrapper::walk(std::string_view line, OnRow&& onRow) const
{
    std::size_t pos = 0;
    for (;;) {
        std::size_t brk = line.find_first_of("\r\n", pos);
        const std::size_t stretchEnd = brk == std::string_view::npos ? line.size() : brk;
        const std::string_view stretch = line.substr(0, stretchEnd);
        if (pos == stretchEnd) {
            onRow(Row{pos, 0});
        } else {
            for (std::size_t start = pos; start < stretchEnd;) {
                const std::size_t end = rowEnd(stretch, start);
                onRow(Row{start, end - start});
                start = end;
            }
        }
        if (brk == std::string_view::npos)
            return;
        pos = brk + 1;
        if (line[brk] == '\r' && pos < line.size() && line[pos] == '\n')
            ++pos;
        if (pos == line.size())
            return;
    }
}

std::size_t LineWrapper::rowCount(std::string_view line) const
{
    std::size_t count = 0;
    walk(line, [&count](Row) { ++count; });
    return count;
}

std::vector<LineWrapper::Row> LineWrapper::rows(std::string_view line) const
{
    std::vector<Row> out;
    walk(line, [&out](Row r) { out.push_back(r); });
    return out;
}
