#include "flasher/hexreader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using burnport::HexLineReader;

namespace {

std::vector<std::string> pieces(const std::string& bytes)
{
    std::vector<std::string> out;
    std::FILE* f = ::fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    if (bytes.empty())
        f = ::fmemopen(nullptr, 1, "w+b");
    HexLineReader r(f);
    std::string p;
    while (r.next(p))
        out.push_back(p);
    std::fclose(f);
    return out;
}

using V = std::vector<std::string>;

} // namespace

TEST(HexLineReader, SplitsAtEveryKindOfLineEnd)
{
    EXPECT_EQ(pieces("S1\nS2\r\nS3\rS4"), (V{"S1", "S2", "S3", "S4"}));
    EXPECT_EQ(pieces("a\n\nb\r\n\r\n"), (V{"a", "", "b", ""}));
    EXPECT_EQ(pieces(""), V{});
}

TEST(HexLineReader, CutsLongLinesInto79CharacterPieces)
{
    std::string line(100, 'A');
    line[79] = 'B';
    EXPECT_EQ(pieces(line + "\r\nS9\n"), (V{std::string(79, 'A'), "B" + std::string(20, 'A'), "S9"}));
    // A line of exactly 79 characters leaves its line end for the next read.
    EXPECT_EQ(pieces(std::string(79, 'C') + "\nD\n"), (V{std::string(79, 'C'), "", "D"}));
    std::string huge(10000, 'F');
    auto p = pieces(huge + "\n");
    ASSERT_EQ(p.size(), 127u);
    EXPECT_EQ(p.back().size(), 10000u - 126 * 79);
}

TEST(HexLineReader, ANulByteEndsTheLine)
{
    EXPECT_EQ(pieces(std::string("S1AB\0CD\nS2\n", 11)), (V{"S1AB", "S2"}));
}

TEST(HexLineReader, ARunOfCarriageReturnsBeforeALineFeedIsOneLineEnd)
{
    EXPECT_EQ(pieces("S1\r\r\nS2\r\r\r\nS3\r\r\n"), (V{"S1", "S2", "S3"}));
    EXPECT_EQ(pieces(std::string(79, 'C') + "\r\r\nD\r\r\n"), (V{std::string(79, 'C'), "", "D"}));
    // Without the line feed every CR still ends a line.
    EXPECT_EQ(pieces("S1\r\rS2\r"), (V{"S1", "", "S2"}));
    EXPECT_EQ(pieces("S1\r\r"), (V{"S1", ""}));
    EXPECT_EQ(pieces("\r\r\r\nS9\n"), (V{"", "S9"}));
}
