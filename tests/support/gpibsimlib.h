#pragma once
// The simulated GPIB driver library opened beside the call layer, for its record
// of calls (one text line per call, e.g. "ibdev 0 17 0 10 1 0").
#include <dlfcn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class SimLibrary {
public:
    explicit SimLibrary(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!handle_)
            throw std::runtime_error(dlerror());
        calls_ = reinterpret_cast<const char* (*)()>(dlsym(handle_, "gpibsim_calls"));
        reset_ = reinterpret_cast<void (*)()>(dlsym(handle_, "gpibsim_reset"));
        setSilent_ = reinterpret_cast<int (*)(int, int)>(dlsym(handle_, "gpibsim_set_silent"));
        reset_();
    }
    ~SimLibrary() { dlclose(handle_); }
    SimLibrary(const SimLibrary&) = delete;
    SimLibrary& operator=(const SimLibrary&) = delete;

    std::vector<std::string> calls() const
    {
        std::vector<std::string> out;
        std::istringstream in(calls_());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    // The listener at the address stops answering (or answers again).
    bool setSilent(int address, bool silent) { return setSilent_(address, silent ? 1 : 0) != 0; }

private:
    void* handle_;
    const char* (*calls_)() = nullptr;
    void (*reset_)() = nullptr;
    int (*setSilent_)(int, int) = nullptr;
};

} // namespace testsupport
