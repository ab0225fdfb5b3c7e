#include "version.h"

#include "version_config.h"

namespace platform {
namespace {

struct Override {
    bool active = false;
    std::optional<VersionBlock> block;
};

Override& override_()
{
    static Override o;
    return o;
}

} // namespace

VersionBlock builtInVersionBlock()
{
    VersionBlock b;
    b.translations.push_back({0x0407, 0x04E4});
    const std::string base = "\\StringFileInfo\\040704E4\\";
    b.strings[base + "FileVersion"] = VOLTDESK_FILE_VERSION;
    b.strings[base + "ProductVersion"] = "1.0.0.0";
    b.strings[base + "ProductName"] = "Voltdesk";
    return b;
}

std::optional<VersionBlock> GetFileVersionInfo(const std::string& programPath)
{
    (void)programPath; // only the running program carries a block here
    if (override_().active)
        return override_().block;
    return builtInVersionBlock();
}

std::optional<VersionBlock::Translation> queryTranslation(const VersionBlock& block)
{
    if (block.translations.empty())
        return std::nullopt;
    return block.translations.front();
}

std::optional<std::string> queryString(const VersionBlock& block, const std::string& path)
{
    auto it = block.strings.find(path);
    if (it == block.strings.end())
        return std::nullopt;
    return it->second;
}

void overrideVersionBlock(std::optional<VersionBlock> block)
{
    override_() = {true, std::move(block)};
}

void resetVersionBlock()
{
    override_() = {};
}

} // namespace platform
