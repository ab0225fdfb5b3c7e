#pragma once
// A simulated module on a pseudo-terminal, registered as a COM name in a serial-port
// map of its own that the process is pointed at for the test's lifetime.
#include "sim/commands.h"
#include "sim/serialmodule.h"

#include <memory>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An environment variable as the test wants it, and as it was found once the guard goes:
// change it through set()/unset(), never by a second guard that outlives the first.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name);
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void set(const std::string& value);
    void unset();

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

class SimPort {
public:
    // Starts a module registered as "COM<comNumber>".
    explicit SimPort(int comNumber = 7);
    ~SimPort();

    sim::SerialModule& module() { return *module_; }
    sim::ModuleCommands& commands() { return commands_; }
    int comNumber() const { return com_; }
    const std::string& mapFile() const { return mapFile_; }
    // Waits until the module has answered all it received and the program can read
    // it; for a test clock's pauses, so that the module's progress, not the
    // machine's load, decides.
    void settle();

private:
    TempDir dir_;
    std::string mapFile_;
    std::unique_ptr<ScopedEnv> env_;
    sim::ModuleCommands commands_;
    std::unique_ptr<sim::SerialModule> module_;
    int com_;
};

// Writes a whole file; throws on failure.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

} // namespace testsupport
