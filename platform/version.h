#pragma once
// The program's version block, compiled in and queried like a version resource:
// a translation list, then string values by path.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct VersionBlock {
    struct Translation {
        std::uint16_t language;
        std::uint16_t codePage;
    };
    std::vector<Translation> translations;
    // Keyed by the full query path, e.g. "\\StringFileInfo\\040704E4\\FileVersion".
    std::map<std::string, std::string> strings;
};

// The block of the program at the given path; none when it has no block.
std::optional<VersionBlock> GetFileVersionInfo(const std::string& programPath);

// "\\VarFileInfo\\Translation" gives the first translation; other paths give strings.
std::optional<VersionBlock::Translation> queryTranslation(const VersionBlock& block);
std::optional<std::string> queryString(const VersionBlock& block, const std::string& path);

// The block built into this program.
VersionBlock builtInVersionBlock();
// Tests replace the block (or remove it with std::nullopt); reset restores it.
void overrideVersionBlock(std::optional<VersionBlock> block);
void resetVersionBlock();

} // namespace platform
