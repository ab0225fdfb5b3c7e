#include "terminal/logview.h"

#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <string>

// Qt types print readably in failed comparisons.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[13] = "logview_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Input as the window system delivers it: keys to the log's window, which hands them on
// to its focus widget, and clicks at a point of the view through that window.
void press(LogView& log, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    QTest::keyClick(log.windowHandle(), k, m);
}
void clickAt(LogView& log, QPoint inView)
{
    QTest::mouseClick(log.windowHandle(), Qt::LeftButton, Qt::NoModifier, log.viewport()->mapTo(&log, inView));
}

constexpr std::uint32_t kBlack = 0;
constexpr std::uint32_t kRed = 255;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

QString allLatin1Chars()
{
    QString s;
    for (int c = 0; c < 256; ++c)
        s += QChar(c);
    return s;
}

std::string allBytes()
{
    std::string s;
    for (int c = 0; c < 256; ++c)
        s += static_cast<char>(c);
    return s;
}

// ---- the line selection on its own ----

std::string rangesOf(const LineSelection& sel)
{
    std::string out;
    for (const auto& r : sel.ranges())
    {
        out += '[';
        out += std::to_string(r.first) + "," + std::to_string(r.last) + "]";
    }
    return out;
}

TEST(LineSelection, MergesOverlappingAndTouchingRangesAndSplitsOnToggle)
{
    LineSelection sel;
    sel.add(10, 12);
    sel.add(3, 1);
    EXPECT_EQ(rangesOf(sel), "[1,3][10,12]");
    sel.add(4, 4);  // touches [1,3]
    EXPECT_EQ(rangesOf(sel), "[1,4][10,12]");
    sel.add(6, 11);
    EXPECT_EQ(rangesOf(sel), "[1,4][6,12]");
    sel.toggle(5);
    EXPECT_EQ(rangesOf(sel), "[1,12]");
    sel.toggle(1);
    sel.toggle(12);
    sel.toggle(7);
    EXPECT_EQ(rangesOf(sel), "[2,6][8,11]");
    EXPECT_TRUE(sel.contains(2));
    EXPECT_TRUE(sel.contains(11));
    EXPECT_FALSE(sel.contains(7));
    EXPECT_FALSE(sel.contains(12));
    EXPECT_FALSE(sel.contains(0));
    sel.selectOnly(20, 20);
    EXPECT_EQ(rangesOf(sel), "[20,20]");
    sel.toggle(20);
    EXPECT_TRUE(sel.empty());
}

// ---- wrapping into rows ----

std::string rowsOf(std::string_view line, qreal width)
{
    std::array<qreal, 256> advances{};
    advances.fill(1.0);
    advances['W'] = 2.0;
    std::string out;
    for (const auto& r : LineWrapper(advances, width).rows(line))
    {
        out += '[';
        out += std::string(line.substr(r.start, r.length)) + "]";
    }
    return out;
}

TEST(LineWrapper, BreaksAtLineBreaksAfterBlanksOrInsideLongWords)
{
    EXPECT_EQ(rowsOf("", 10), "[]");
    EXPECT_EQ(rowsOf("short", 10), "[short]");
    EXPECT_EQ(rowsOf("abcdefghijklmnopqrstuvwxy", 10), "[abcdefghij][klmnopqrst][uvwxy]");
    EXPECT_EQ(rowsOf("aaaa bbbb cccc", 10), "[aaaa bbbb ][cccc]");
    EXPECT_EQ(rowsOf("aa bbbbbbbbbbbb", 10), "[aa ][bbbbbbbbbb][bb]");
    EXPECT_EQ(rowsOf("WWWWWW", 10), "[WWWWW][W]");  // by width, not by count
    // LF, CR and CR LF each start a row; one at the very end adds none.
    EXPECT_EQ(rowsOf("X\nY", 10), "[X][Y]");
    EXPECT_EQ(rowsOf("X\rY", 10), "[X][Y]");
    EXPECT_EQ(rowsOf("X\r\nY", 10), "[X][Y]");
    EXPECT_EQ(rowsOf("X\n\rY", 10), "[X][][Y]");
    EXPECT_EQ(rowsOf("X\n\nY\n", 10), "[X][][Y]");
    EXPECT_EQ(rowsOf("\n", 10), "[]");
    EXPECT_EQ(rowsOf("abcdefghijklm\nno", 10), "[abcdefghij][klm][no]");
    // A view narrower than one character still shows every character.
    EXPECT_EQ(rowsOf("abc", 0.5), "[a][b][c]");
    std::array<qreal, 256> ones{};
    ones.fill(1.0);
    EXPECT_EQ(LineWrapper(ones, 10).rowCount(std::string(255, 'x')), 26u);
}

// ---- store, colours and saving ----

TEST(LogView, KeepsTextAndColourOfEveryLine)
{
    LogView log;
    log.addLine("first", kBlack);
    log.addLine("second", kRed);
    log.addLine("", 0x00FF00);
    log.addLine("fourth", kBlack);
    ASSERT_EQ(log.lineCount(), 4);
    EXPECT_EQ(log.lineText(0), "first");
    EXPECT_EQ(log.lineText(1), "second");
    EXPECT_EQ(log.lineText(2), "");
    EXPECT_EQ(log.lineColour(0), kBlack);
    EXPECT_EQ(log.lineColour(1), kRed);
    EXPECT_EQ(log.lineColour(2), 0x00FF00u);
    EXPECT_EQ(log.lineColour(3), kBlack);
    EXPECT_EQ(log.lineText(4), "");
    EXPECT_EQ(log.lineText(-1), "");
    EXPECT_EQ(log.lineColour(4), 0u);
}

TEST(LogView, EveryLatin1ByteRoundTripsThroughLineTextAndFile)
{
    testsupport::TempDir dir;
    LogView log;
    log.addLine(allLatin1Chars(), kBlack);
    log.addLine(QString::fromUtf8("A\u20ACB") + QChar(0x100), kRed);  // beyond Latin-1
    log.addLine(QString(QChar(0)), kBlack);
    EXPECT_EQ(log.lineText(0), allLatin1Chars());
    EXPECT_EQ(log.lineText(0).size(), 256);
    EXPECT_EQ(log.lineText(1), "A?B?");
    EXPECT_EQ(log.lineText(2), QString(QChar(0)));

    const std::string path = dir.file("log.txt");
    ASSERT_TRUE(log.saveToFile(QString::fromStdString(path)));
    EXPECT_EQ(readFile(path), allBytes() + "\r\nA?B?\r\n" + std::string(1, '\0') + "\r\n");
}

TEST(LogView, LinesAcrossChunksAndOverlongLinesStayIntact)
{
    LogView log;
    const QString huge(3 * 1024 * 1024 + 7, QChar('h'));
    constexpr int kLines = 40000;  // about 4 MB: several chunks
    for (int i = 0; i < kLines; ++i) {
        if (i == 100 || i == 30000)
            log.addLine(huge, 0x123456);
        log.addLine(QString("line %1 ").arg(i).leftJustified(90 + i % 17, QChar('x')), i % 2 ? kRed : kBlack);
    }
    ASSERT_EQ(log.lineCount(), kLines + 2);
    qsizetype row = 0;
    for (int i = 0; i < kLines; ++i, ++row) {
        if (i == 100 || i == 30000) {
            ASSERT_EQ(log.lineText(row), huge) << "row " << row;
            ASSERT_EQ(log.lineColour(row), 0x123456u);
            ++row;
        }
        ASSERT_EQ(log.lineText(row), QString("line %1 ").arg(i).leftJustified(90 + i % 17, QChar('x')))
            << "row " << row;
        ASSERT_EQ(log.lineColour(row), i % 2 ? kRed : kBlack);
    }
}

TEST(LogView, SaveWritesCrLfLinesAndReplacesTheFile)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("LOG.TXT");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(10000, 'o');
    }
    LogView log;
    log.addLine("*IDN?", kBlack);
    log.addLine("<No Communication>", kRed);
    log.addLine("", kBlack);
    ASSERT_TRUE(log.saveToFile(QString::fromStdString(path)));
    EXPECT_EQ(readFile(path), "*IDN?\r\n<No Communication>\r\n\r\n");
    EXPECT_EQ(log.lineCount(), 3);  // saving leaves the log alone

    LogView empty;
    ASSERT_TRUE(empty.saveToFile(QString::fromStdString(path)));
    EXPECT_EQ(readFile(path), "");
}

TEST(LogView, SaveReportsFilesItCannotCreateOrWrite)
{
    testsupport::TempDir dir;
    LogView log;
    log.addLine("kept", kBlack);
    EXPECT_FALSE(log.saveToFile(QString::fromStdString(dir.file("missing/dir/log.txt"))));
    EXPECT_FALSE(log.saveToFile(QString::fromStdString(dir.path())));  // a directory
    if (QFile::exists("/dev/full")) {
        EXPECT_FALSE(log.saveToFile("/dev/full"));  // opens, but every write fails
    }
    EXPECT_EQ(log.lineText(0), "kept");
}

TEST(LogView, ClearEmptiesLinesAndSelectionAndStartsAfresh)
{
    LogView log;
    for (int i = 0; i < 50; ++i)
        log.addLine(QString("old %1").arg(i), kRed);
    ASSERT_TRUE(testsupport::showActive(log));
    press(log, Qt::Key_A, Qt::ControlModifier);
    ASSERT_FALSE(log.selectedText().isEmpty());
    log.clear();
    EXPECT_EQ(log.lineCount(), 0);
    EXPECT_EQ(log.selectedText(), "");
    EXPECT_EQ(log.lineText(0), "");
    EXPECT_EQ(log.verticalScrollBar()->maximum(), 0);
    log.addLine("new", kBlack);
    EXPECT_EQ(log.lineCount(), 1);
    EXPECT_EQ(log.lineText(0), "new");
    EXPECT_EQ(log.lineColour(0), kBlack);
}

// ---- selection and copy through the widget ----

class LogViewUi : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.resize(400, 300);
        for (int i = 0; i < 5; ++i)
            log.addLine(QString("l%1").arg(i), kBlack);
        ASSERT_TRUE(testsupport::showActive(log));
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { press(log, k, m); }

    LogView log;
};

TEST_F(LogViewUi, ExtendedSelectionGivesTheLinesInOrder)
{
    EXPECT_EQ(log.selectedText(), "");
    clickAt(log, QPoint(10, 1));
    EXPECT_EQ(log.selectedText(), "l0");
    key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(log.selectedText(), "l0\nl1\nl2\nl3\nl4");
    key(Qt::Key_Up, Qt::ControlModifier);
    key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(log.selectedText(), "l0\nl1\nl2\nl4");
    key(Qt::Key_Home, Qt::ControlModifier);
    key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(log.selectedText(), "l1\nl2\nl4");
    key(Qt::Key_Down);
    EXPECT_EQ(log.selectedText(), "l1");
    key(Qt::Key_Down, Qt::ShiftModifier);
    key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(log.selectedText(), "l1\nl2\nl3");
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(log.selectedText(), "l0\nl1\nl2\nl3\nl4");
    // A click below the last line clears the selection.
    clickAt(log, QPoint(10, 295));
    EXPECT_EQ(log.selectedText(), "");
}

TEST_F(LogViewUi, CopyPutsTheSelectionOnTheClipboard)
{
    log.addLine(QString("hi") + QChar(0xE9), kRed);
    QApplication::clipboard()->setText("before");
    key(Qt::Key_C, Qt::ControlModifier);  // nothing selected
    EXPECT_EQ(QApplication::clipboard()->text(), "");
    key(Qt::Key_End);
    key(Qt::Key_Up, Qt::ShiftModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QString("l4\nhi") + QChar(0xE9));
    key(Qt::Key_Home);
    log.copySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), "l0");
}

// ---- scrolling and painting ----

// The lowest pixel row that is not background, and the colour class of its ink.
struct Ink {
    int bottomRow = -1;
    bool bottomIsRed = false;
    int blackPixels = 0;
    int redPixels = 0;
};

Ink inkOf(const QImage& image, QColor background)
{
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == background)
                continue;
            const bool red = c.red() > 150 && c.green() < 100 && c.blue() < 100;
            const bool black = c.red() < 100 && c.green() < 100 && c.blue() < 100;
            ink.redPixels += red;
            ink.blackPixels += black;
            if (red || black) {
                ink.bottomRow = y;
                ink.bottomIsRed = red;
            }
        }
    }
    return ink;
}

// Bands of pixel rows that carry ink, top to bottom.
int inkBands(const QImage& image, QColor background)
{
    int bands = 0;
    bool inBand = false;
    for (int y = 0; y < image.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.width() && !ink; ++x)
            ink = image.pixelColor(x, y) != background;
        if (ink && !inBand)
            ++bands;
        inBand = ink;
    }
    return bands;
}

TEST(LogViewWrap, ALongLineIsShownWholeAndLineBreaksStartRows)
{
    LogView log;
    log.resize(617, 273);
    log.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    const QColor background = log.viewport()->palette().color(QPalette::Base);
    auto bandsFor = [&](const QString& line) {
        log.clear();
        log.addLine(line, kBlack);
        QCoreApplication::processEvents();
        return inkBands(log.viewport()->grab().toImage(), background);
    };
    EXPECT_EQ(bandsFor("X"), 1);
    EXPECT_EQ(bandsFor("X\nY"), 2);
    EXPECT_EQ(bandsFor("X\rY"), 2);
    EXPECT_EQ(bandsFor("X\r\nY"), 2);
    EXPECT_EQ(bandsFor("X\n"), 1);
    // 255 wide letters need several rows of a 617-pixel view; each row is drawn.
    const QString longLine(255, QChar('M'));
    const int rows = bandsFor(longLine);
    EXPECT_GE(rows, 3);
    const std::size_t wrapped = LineWrapper::forFont(log.font(), log.viewport()->width() - 6)
                                    .rowCount(std::string(255, 'M'));
    EXPECT_EQ(rows, static_cast<int>(wrapped));
    // The rows count in the scroll range: a wrapped line at the end is scrolled into view.
    log.clear();
    for (int i = 0; i < 30; ++i)
        log.addLine(longLine, kBlack);
    log.addLine("tail", kRed);
    QCoreApplication::processEvents();
    EXPECT_EQ(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    EXPECT_GE(log.verticalScrollBar()->maximum(), 30 * rows - 20);
    EXPECT_TRUE(inkOf(log.viewport()->grab().toImage(), background).bottomIsRed);
    // Wrapping is only on screen: text, copy and file keep every byte.
    EXPECT_EQ(log.lineText(0), longLine);
}

TEST(LogViewWrap, ClickOnAnyRowOfAWrappedLineSelectsThatLineAndCopyKeepsItsBytes)
{
    LogView log;
    log.resize(617, 273);
    log.addLine(QString(255, QChar('M')), kBlack);
    log.addLine("A\nB", kBlack);
    log.addLine("after", kBlack);
    ASSERT_TRUE(testsupport::showActive(log));
    const int rows = static_cast<int>(
        LineWrapper::forFont(log.font(), log.viewport()->width() - 6).rowCount(std::string(255, 'M')));
    const int rowHeight = log.fontMetrics().height() + 2;
    clickAt(log, QPoint(10, (rows - 1) * rowHeight + 2));
    EXPECT_EQ(log.selectedText(), QString(255, QChar('M')));
    clickAt(log, QPoint(10, (rows + 1) * rowHeight + 2));
    EXPECT_EQ(log.selectedText(), "A\nB");
    clickAt(log, QPoint(10, (rows + 2) * rowHeight + 2));
    EXPECT_EQ(log.selectedText(), "after");
    press(log, Qt::Key_Up, Qt::ShiftModifier);
    press(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "A\nB\nafter");
}

TEST_F(LogViewUi, ScrollsEachNewLineIntoViewInItsColour)
{
    const QColor background = log.viewport()->palette().color(QPalette::Base);
    for (int i = 0; i < 500; ++i) {
        log.addLine("MMMMMMMMMMMMMMMMMMMM black", kBlack);
        EXPECT_EQ(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    }
    log.addLine("MMMMMMMMMMMMMMMMMMMM red", kRed);
    QCoreApplication::processEvents();
    EXPECT_GT(log.verticalScrollBar()->maximum(), 400);
    EXPECT_EQ(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    Ink ink = inkOf(log.viewport()->grab().toImage(), background);
    EXPECT_TRUE(ink.bottomIsRed);
    EXPECT_GT(ink.redPixels, 20);
    EXPECT_GT(ink.blackPixels, 20);

    log.addLine("MMMMMMMMMMMMMMMMMMMM black again", kBlack);
    QCoreApplication::processEvents();
    ink = inkOf(log.viewport()->grab().toImage(), background);
    EXPECT_FALSE(ink.bottomIsRed);
    EXPECT_GT(ink.redPixels, 20);

    // Shrinking the window keeps the last line in view.
    log.resize(400, 120);
    QCoreApplication::processEvents();
    EXPECT_EQ(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    ink = inkOf(log.viewport()->grab().toImage(), background);
    EXPECT_FALSE(ink.bottomIsRed);
    EXPECT_GT(ink.redPixels, 20);
}

} // namespace
