#pragma once
// The simulated module's command set. Every side of the simulation (serial, TCP,
// GPIB listeners) answers through one table of this kind.
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr const char* DefaultIdentification = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07";
inline constexpr const char* UnknownCommandAnswer = "ERR UNKNOWN COMMAND";
// Value key that counts the factory resets the module obeyed.
inline constexpr const char* FactoryResetCount = "FACTORYRESET COUNT";

class ModuleCommands {
public:
    // Gets the arguments after the header (trimmed) and the module's value store;
    // returns the answer without line end, or nothing for a command that is only obeyed.
    using Handler = std::function<std::optional<std::string>(std::string_view args, ModuleCommands&)>;

    ModuleCommands();

    // Answers one command line (without its CR LF). Headers compare without letter case.
    // Commands joined by ";" run in turn, a header without a leading ':' taking the
    // path of the one before; their answers come back joined by ";".
    std::optional<std::string> answer(std::string_view line);

    // Adds or replaces a command; the header is the text up to the first blank,
    // including a trailing '?' for queries.
    void define(const std::string& header, Handler handler);

    // Value store for set/read commands, shared with added commands.
    std::string value(const std::string& key) const;
    void setValue(const std::string& key, std::string v);

    void setIdentification(std::string id);

private:
    std::optional<std::string> answerOne(std::string_view line);
    std::optional<std::string> answerCompound(std::string_view line);

    mutable std::recursive_mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::map<std::string, std::string> values_;
};

// Upper-case copy, ASCII only.
std::string upper(std::string_view s);

} // namespace sim
