#pragma once
// The bytes of history.txt, the command history that users may edit by hand. The
// reader has no Qt, so that it can be fuzzed on its own.
#include <string_view>
#include <vector>

namespace terminal {

// The commands of the file, as views into `bytes`: CR LF, LF or CR end a line; a
// final line break adds no entry; reading stops at a NUL byte.
std::vector<std::string_view> SplitHistory(std::string_view bytes);

} // namespace terminal
