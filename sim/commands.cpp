#include "commands.h"

#include <cctype>

namespace sim {
namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A settable value: "NAME x" stores x, "NAME?" reads it back.
void defineValue(ModuleCommands& m, const std::string& name, const std::string& initial)
{
    m.setValue(name, initial);
    m.define(name, [name](std::string_view args, ModuleCommands& mc) -> std::optional<std::string> {
        if (args.empty())
            return std::string(UnknownCommandAnswer);
        mc.setValue(name, upper(args));
        return std::nullopt;
    });
    m.define(name + "?", [name](std::string_view, ModuleCommands& mc) -> std::optional<std::string> {
        return mc.value(name);
    });
}

} // namespace

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

ModuleCommands::ModuleCommands()
{
    setIdentification(DefaultIdentification);
    define("*IDN?", [](std::string_view, ModuleCommands& m) -> std::optional<std::string> {
        return m.value("*IDN");
    });
    define("*RST", [](std::string_view, ModuleCommands& m) -> std::optional<std::string> {
        m.setValue("VOLT", "0");
        m.setValue("CURR", "0");
        m.setValue("OUTP", "OFF");
        return std::nullopt;
    });
    defineValue(*this, "VOLT", "0");
    defineValue(*this, "CURR", "0");
    defineValue(*this, "OUTP", "OFF");

    // Factory settings: arc management, the Iset option, date, time, reset, local mode.
    defineValue(*this, ":CONF:ARC:CONT", "1");
    defineValue(*this, ":CONF:ARC:NUM", "3");
    defineValue(*this, ":CONF:ARC:TIME", "0.5");
    defineValue(*this, ":CONF:ARC:WAIT", "0.01");
    defineValue(*this, ":CONF:ARC:RAMP", "1000");
    defineValue(*this, ":SYS:KAVO:ISET", "0");
    defineValue(*this, "*DATE", "");
    defineValue(*this, "*TIME", "");
    defineValue(*this, ":CONF:INTER", "REMOTE");
    setValue(FactoryResetCount, "0");
    define(":SYS:KAVO:FACTORYRESET", [](std::string_view args, ModuleCommands& m) -> std::optional<std::string> {
        if (args != "1")
            return std::string(UnknownCommandAnswer);
        m.setValue(FactoryResetCount, std::to_string(std::stoi(m.value(FactoryResetCount)) + 1));
        return std::nullopt;
    });
}

std::optional<std::string> ModuleCommands::answer(std::string_view line)
{
    line = trim(line);
    if (line.find(';') != std::string_view::npos)
        return answerCompound(line);
    return answerOne(line);
}

// "A:B:X?;Y?;:C:Z?" runs X, then Y under the same path A:B, then the absolute C:Z;
// the answers are joined with ";".
std::optional<std::string> ModuleCommands::answerCompound(std::string_view line)
{
    std::string path;
    std::optional<std::string> joined;
    while (true) {
        std::size_t end = line.find(';');
        std::string part(trim(line.substr(0, end)));
        if (!part.empty() && part.front() != ':' && part.front() != '*')
            part = path + part;
        std::size_t header = part.find_first_of(" \t,");
        std::size_t lastColon = part.rfind(':', header);
        if (lastColon != std::string::npos && part.front() == ':')
            path = part.substr(0, lastColon + 1);
        std::optional<std::string> a = answerOne(part);
        if (a && *a == UnknownCommandAnswer)
            return a;
        if (a)
            joined = joined ? *joined + ";" + *a : *a;
        if (end == std::string_view::npos)
            return joined;
        line.remove_prefix(end + 1);
    }
}

std::optional<std::string> ModuleCommands::answerOne(std::string_view line)
{
    line = trim(line);
    // Arguments follow a blank, or a comma as in "*DATE,24-05-01".
    std::size_t blank = line.find_first_of(" \t,");
    std::string header = upper(line.substr(0, blank));
    std::string_view args = blank == std::string_view::npos ? std::string_view{} : trim(line.substr(blank + 1));
    Handler h;
    {
        std::lock_guard lock(mutex_);
        auto it = handlers_.find(header);
        if (it == handlers_.end())
            return std::string(UnknownCommandAnswer);
        h = it->second;
    }
    return h(args, *this);
}

void ModuleCommands::define(const std::string& header, Handler handler)
{
    std::lock_guard lock(mutex_);
    handlers_[upper(header)] = std::move(handler);
}

std::string ModuleCommands::value(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

void ModuleCommands::setValue(const std::string& key, std::string v)
{
    std::lock_guard lock(mutex_);
    values_[key] = std::move(v);
}

void ModuleCommands::setIdentification(std::string id)
{
    setValue("*IDN", std::move(id));
}

} // namespace sim
