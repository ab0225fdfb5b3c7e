#pragma once
// The log window: keeps every line for the whole run (a script may log all night),
// appends in constant time and holds a million lines in far less memory than a
// text document would. Lines are stored as Latin-1 bytes, so any byte an answer
// holds comes back out unchanged.
//
// A QListView would redo the layout of every row after each insert, so the view
// paints its rows itself on a scroll area. A long line wraps over several rows of one
// height (logwrap.h); the view keeps, for each line, the number of rows up to its end,
// so that an append costs the same at any length of the log.
#include "logwrap.h"

#include <QAbstractScrollArea>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Every line as Latin-1 bytes in large chunks, plus 16 bytes of bookkeeping a line.
class LogLineStore {
public:
    void append(const QString& text, std::uint32_t colour);
    void clear();

    qsizetype size() const { return static_cast<qsizetype>(lines_.size()); }
    // The stored bytes of a line; valid until the next clear().
    std::string_view bytes(qsizetype index) const;
    std::uint32_t colour(qsizetype index) const { return lines_[static_cast<std::size_t>(index)].colour; }

private:
    // Large enough that the chunk list stays short, small enough that the unused
    // tail of the last chunk does not matter.
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

    struct Line {
        std::uint32_t chunk;
        std::uint32_t offset;
        std::uint32_t length;
        std::uint32_t colour;
    };
    char* reserve(std::size_t length, std::uint32_t& chunk, std::uint32_t& offset);

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::uint32_t openChunk_ = 0;  // the chunk short lines go into
    std::size_t openUsed_ = 0;
    bool hasOpenChunk_ = false;
    std::deque<Line> lines_;  // never moves its elements, so an append never copies the store
};

// Selected rows as sorted, disjoint, non-adjacent inclusive ranges.
class LineSelection {
public:
    struct Range {
        qsizetype first;
        qsizetype last;
    };
    void clear() { ranges_.clear(); }
    void selectOnly(qsizetype a, qsizetype b);
    void add(qsizetype a, qsizetype b);
    void toggle(qsizetype row);
    bool contains(qsizetype row) const;
    bool empty() const { return ranges_.empty(); }
    const std::vector<Range>& ranges() const { return ranges_; }

private:
    std::vector<Range> ranges_;
};

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    // Appends one line in a colour (red in the low byte: 0 black, 255 red) and
    // scrolls it into view.
    void addLine(const QString& text, std::uint32_t colour);
    void clear();

    qsizetype lineCount() const;
    // Out-of-range indexes give an empty text and colour 0.
    QString lineText(qsizetype index) const;
    std::uint32_t lineColour(qsizetype index) const;
    // The rows a line takes on the screen at the present width (0 out of range).
    qsizetype lineRows(qsizetype index) const;

    // The selected lines in order, joined by "\n"; empty without a selection.
    QString selectedText() const;
    // Puts selectedText() on the clipboard; Ctrl+C does the same.
    void copySelection();

    // Writes every line as Latin-1, each followed by CR LF, replacing the file.
    // False when the file cannot be created or written.
    bool saveToFile(const QString& path) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int visibleRows() const;
    // The line shown at a height of the viewport (-1 above the first line, lineCount()
    // and beyond below the last).
    qsizetype lineAt(int y) const;
    qsizetype firstRowOf(qsizetype line) const;
    qsizetype rowsUpTo(qsizetype line) const { return rowEnds_[static_cast<std::size_t>(line)]; }
    qsizetype totalRows() const { return rowEnds_.empty() ? 0 : rowEnds_.back(); }
    // Rows again for every line, after the width or the font changed.
    void rewrap();
    void updateRowHeight();
    void updateScrollRange();
    void scrollToLine(qsizetype line);
    void moveCurrent(qsizetype line, Qt::KeyboardModifiers modifiers);

    LogLineStore lines_;
    std::deque<qsizetype> rowEnds_;  // rows of lines 0..i together
    LineWrapper wrapper_;
    LineSelection selection_;
    int rowHeight_ = 1;
    qsizetype current_ = -1;
    qsizetype anchor_ = -1;
    bool dragSelecting_ = false;
};
