#include "logview.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <limits>

// ---- LogLineStore -----------------------------------------------------------

char* LogLineStore::reserve(std::size_t length, std::uint32_t& chunk, std::uint32_t& offset)
{
    if (length > kChunkBytes) {
        // A line longer than a chunk gets a chunk of its own; the open chunk stays open.
        chunks_.push_back(std::unique_ptr<char[]>(new char[length]));
        chunk = static_cast<std::uint32_t>(chunks_.size() - 1);
        offset = 0;
        return chunks_.back().get();
    }
    if (!hasOpenChunk_ || kChunkBytes - openUsed_ < length) {
        chunks_.push_back(std::unique_ptr<char[]>(new char[kChunkBytes]));
        openChunk_ = static_cast<std::uint32_t>(chunks_.size() - 1);
        openUsed_ = 0;
        hasOpenChunk_ = true;
    }
    chunk = openChunk_;
    offset = static_cast<std::uint32_t>(openUsed_);
    openUsed_ += length;
    return chunks_[chunk].get() + offset;
}

void LogLineStore::append(const QString& text, std::uint32_t colour)
{
    const auto length = static_cast<std::size_t>(text.size());
    Line line{0, 0, static_cast<std::uint32_t>(length), colour};
    char* out = reserve(length, line.chunk, line.offset);
    for (QChar c : text)
        *out++ = c.unicode() > 0xFF ? '?' : static_cast<char>(c.unicode());
    lines_.push_back(line);
}

void LogLineStore::clear()
{
    std::deque<Line>().swap(lines_);
    chunks_.clear();
    chunks_.shrink_to_fit();
    openUsed_ = 0;
    hasOpenChunk_ = false;
}

std::string_view LogLineStore::bytes(qsizetype index) const
{
    const Line& line = lines_[static_cast<std::size_t>(index)];
    return {chunks_[line.chunk].get() + line.offset, line.length};
}

// ---- LineSelection ----------------------------------------------------------

void LineSelection::selectOnly(qsizetype a, qsizetype b)
{
    ranges_.clear();
    add(a, b);
}

void LineSelection::add(qsizetype a, qsizetype b)
{
    Range added{std::min(a, b), std::max(a, b)};
    // Swallow every range that overlaps or touches the new one.
    auto begin = std::lower_bound(ranges_.begin(), ranges_.end(), added.first,
                                  [](const Range& r, qsizetype row) { return r.last + 1 < row; });
    auto end = begin;
    while (end != ranges_.end() && end->first <= added.last + 1) {
        added.first = std::min(added.first, end->first);
        added.last = std::max(added.last, end->last);
        ++end;
    }
    *ranges_.insert(ranges_.erase(begin, end), added) = added;
}

void LineSelection::toggle(qsizetype row)
{
    auto it = std::lower_bound(ranges_.begin(), ranges_.end(), row,
                               [](const Range& r, qsizetype x) { return r.last < x; });
    if (it == ranges_.end() || it->first > row) {
        add(row, row);
        return;
    }
    const Range old = *it;
    it = ranges_.erase(it);
    if (row < old.last)
        it = ranges_.insert(it, Range{row + 1, old.last});
    if (old.first < row)
        ranges_.insert(it, Range{old.first, row - 1});
}

bool LineSelection::contains(qsizetype row) const
{
    auto it = std::lower_bound(ranges_.begin(), ranges_.end(), row,
                               [](const Range& r, qsizetype x) { return r.last < x; });
    return it != ranges_.end() && it->first <= row;
}

// ---- LogView ----------------------------------------------------------------

namespace {

// Room above and below the text of a row, and left and right of it, in pixels.
constexpr int kRowPadding = 2;
constexpr int kTextMargin = 3;
// Bytes collected before each write while saving.
constexpr std::size_t kSaveBufferBytes = std::size_t{1} << 20;

// Colours arrive as 0x00BBGGRR.
QColor colourOf(std::uint32_t value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

qreal wrapWidthOf(const QWidget* viewport)
{
    return std::max(1, viewport->width() - 2 * kTextMargin);
}

} // namespace

LogView::LogView(QWidget* parent)
    : QAbstractScrollArea(parent), wrapper_(LineWrapper::forFont(font(), wrapWidthOf(viewport())))
{
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    updateRowHeight();
}

LogView::~LogView() = default;

void LogView::addLine(const QString& text, std::uint32_t colour)
{
    lines_.append(text, colour);
    const qsizetype before = totalRows();
    rowEnds_.push_back(before + static_cast<qsizetype>(wrapper_.rowCount(lines_.bytes(lines_.size() - 1))));
    updateScrollRange();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    // The scroll bar only repaints when its value moved; a line that fits without
    // scrolling still has to be drawn.
    viewport()->update();
}

void LogView::clear()
{
    lines_.clear();
    std::deque<qsizetype>().swap(rowEnds_);
    selection_.clear();
    current_ = anchor_ = -1;
    dragSelecting_ = false;
    updateScrollRange();
    viewport()->update();
}

qsizetype LogView::lineCount() const
{
    return lines_.size();
}

QString LogView::lineText(qsizetype index) const
{
    if (index < 0 || index >= lines_.size())
        return {};
    const std::string_view b = lines_.bytes(index);
    return QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size()));
}

std::uint32_t LogView::lineColour(qsizetype index) const
{
    if (index < 0 || index >= lines_.size())
        return 0;
    return lines_.colour(index);
}

QString LogView::selectedText() const
{
    std::string joined;
    bool first = true;
    for (const auto& range : selection_.ranges()) {
        for (qsizetype row = range.first; row <= range.last && row < lines_.size(); ++row) {
            if (!first)
                joined += '\n';
            first = false;
            joined += lines_.bytes(row);
        }
    }
    return QString::fromLatin1(joined.data(), static_cast<qsizetype>(joined.size()));
}

void LogView::copySelection()
{
    QApplication::clipboard()->setText(selectedText());
}

bool LogView::saveToFile(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::string buffer;
    buffer.reserve(kSaveBufferBytes + 2);
    auto flush = [&] {
        const bool ok = file.write(buffer.data(), static_cast<qint64>(buffer.size())) ==
                        static_cast<qint64>(buffer.size());
        buffer.clear();
        return ok;
    };
    for (qsizetype row = 0; row < lines_.size(); ++row) {
        const std::string_view line = lines_.bytes(row);
        if (buffer.size() + line.size() > kSaveBufferBytes && !buffer.empty() && !flush())
            return false;
        buffer += line;
        buffer += "\r\n";
    }
    if (!buffer.empty() && !flush())
        return false;
    if (!file.flush())
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

int LogView::visibleRows() const
{
    return std::max(1, viewport()->height() / rowHeight_);
}

qsizetype LogView::lineRows(qsizetype index) const
{
    if (index < 0 || index >= static_cast<qsizetype>(rowEnds_.size()))
        return 0;
    return rowsUpTo(index) - firstRowOf(index);
}

qsizetype LogView::firstRowOf(qsizetype line) const
{
    return line <= 0 ? 0 : rowsUpTo(line - 1);
}

qsizetype LogView::lineAt(int y) const
{
    const qsizetype row = verticalScrollBar()->value() + (y < 0 ? -1 - (-1 - y) / rowHeight_ : y / rowHeight_);
    if (row < 0)
        return -1;
    return std::upper_bound(rowEnds_.begin(), rowEnds_.end(), row) - rowEnds_.begin();
}

void LogView::rewrap()
{
    const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    const qsizetype topLine = lineAt(0);
    wrapper_ = LineWrapper::forFont(font(), wrapWidthOf(viewport()));
    qsizetype rows = 0;
    for (qsizetype line = 0; line < lines_.size(); ++line) {
        rows += static_cast<qsizetype>(wrapper_.rowCount(lines_.bytes(line)));
        rowEnds_[static_cast<std::size_t>(line)] = rows;
    }
    updateScrollRange();
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(atEnd ? bar->maximum() : static_cast<int>(std::min<qsizetype>(firstRowOf(topLine), bar->maximum())));
    viewport()->update();
}

void LogView::updateRowHeight()
{
    rowHeight_ = std::max(1, fontMetrics().height() + kRowPadding);
    rewrap();
}

void LogView::updateScrollRange()
{
    constexpr qsizetype kMaxScroll = std::numeric_limits<int>::max();
    const int rows = visibleRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(rows);
    bar->setRange(0, static_cast<int>(std::clamp<qsizetype>(totalRows() - rows, 0, kMaxScroll)));
}

void LogView::scrollToLine(qsizetype line)
{
    QScrollBar* bar = verticalScrollBar();
    const qsizetype first = firstRowOf(line);
    const qsizetype last = rowsUpTo(line) - 1;
    if (first < bar->value())
        bar->setValue(static_cast<int>(first));
    else if (last >= bar->value() + visibleRows())
        bar->setValue(static_cast<int>(std::min(first, last - visibleRows() + 1))); // a tall line shows its top
}

void LogView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    const qsizetype top = verticalScrollBar()->value();
    const int width = viewport()->width();
    const int baseline = kRowPadding / 2 + fontMetrics().ascent();
    const QPalette& pal = palette();
    for (qsizetype line = std::max<qsizetype>(lineAt(area.top()), 0); line < lines_.size(); ++line) {
        const int y = static_cast<int>(firstRowOf(line) - top) * rowHeight_;
        if (y > area.bottom())
            break;
        const std::string_view bytes = lines_.bytes(line);
        const std::vector<LineWrapper::Row> rows = wrapper_.rows(bytes);
        const int height = static_cast<int>(rows.size()) * rowHeight_;
        if (selection_.contains(line)) {
            painter.fillRect(0, y, width, height, pal.brush(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
        } else {
            painter.setPen(colourOf(lines_.colour(line)));
        }
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const int rowY = y + static_cast<int>(r) * rowHeight_;
            if (rowY + rowHeight_ <= area.top() || rowY > area.bottom())
                continue;
            painter.drawText(kTextMargin, rowY + baseline,
                             QString::fromLatin1(bytes.data() + rows[r].start, static_cast<qsizetype>(rows[r].length)));
        }
        if (line == current_ && hasFocus()) {
            painter.setPen(QPen(pal.color(QPalette::Text), 1, Qt::DotLine));
            painter.drawRect(0, y, width - 1, height - 1);
        }
    }
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (wrapWidthOf(viewport()) != wrapper_.width()) {
        rewrap();
        return;
    }
    const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    updateScrollRange();
    if (atEnd)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateRowHeight();
}

void LogView::moveCurrent(qsizetype line, Qt::KeyboardModifiers modifiers)
{
    if (lines_.size() == 0)
        return;
    line = std::clamp<qsizetype>(line, 0, lines_.size() - 1);
    current_ = line;
    if (modifiers & Qt::ShiftModifier) {
        if (anchor_ < 0)
            anchor_ = line;
        if (modifiers & Qt::ControlModifier)
            selection_.add(anchor_, line);
        else
            selection_.selectOnly(anchor_, line);
    } else if (!(modifiers & Qt::ControlModifier)) {
        anchor_ = line;
        selection_.selectOnly(line, line);
    }
    scrollToLine(line);
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        if (lines_.size() > 0)
            selection_.selectOnly(0, lines_.size() - 1);
        viewport()->update();
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    const qsizetype from = current_ < 0 ? std::clamp<qsizetype>(lineAt(0), 0, std::max<qsizetype>(lines_.size() - 1, 0))
                                        : current_;
    switch (event->key()) {
    case Qt::Key_Up: moveCurrent(current_ < 0 ? from : from - 1, mods); return;
    case Qt::Key_Down: moveCurrent(current_ < 0 ? from : from + 1, mods); return;
    case Qt::Key_PageUp: moveCurrent(from - visibleRows(), mods); return;
    case Qt::Key_PageDown: moveCurrent(from + visibleRows(), mods); return;
    case Qt::Key_Home: moveCurrent(0, mods); return;
    case Qt::Key_End: moveCurrent(lines_.size() - 1, mods); return;
    case Qt::Key_Space:
        if ((mods & Qt::ControlModifier) && current_ >= 0) {
            selection_.toggle(current_);
            anchor_ = current_;
            viewport()->update();
            return;
        }
        break;
    default: break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype row = lineAt(event->position().toPoint().y());
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (row < 0 || row >= lines_.size()) {
        if (!(mods & (Qt::ShiftModifier | Qt::ControlModifier)))
            selection_.clear();
        viewport()->update();
        return;
    }
    if ((mods & Qt::ControlModifier) && !(mods & Qt::ShiftModifier)) {
        current_ = anchor_ = row;
        selection_.toggle(row);
        viewport()->update();
        return;
    }
    moveCurrent(row, mods & (Qt::ShiftModifier | Qt::ControlModifier));
    dragSelecting_ = !(mods & Qt::ControlModifier);
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragSelecting_ || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragging past an edge scrolls the view one row per move.
    moveCurrent(lineAt(event->position().toPoint().y()), Qt::ShiftModifier);
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        dragSelecting_ = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
}
