#include "simport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "voltdesk-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name) : name_(name)
{
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name)
{
    set(value);
}

void ScopedEnv::set(const std::string& value)
{
    ::setenv(name_.c_str(), value.c_str(), 1);
}

void ScopedEnv::unset()
{
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

SimPort::SimPort(int comNumber) : com_(comNumber)
{
    mapFile_ = dir_.file("serialcomm");
    env_ = std::make_unique<ScopedEnv>("VOLTDESK_SERIALCOMM", mapFile_);
    module_ = std::make_unique<sim::SerialModule>(commands_);
    if (!module_->start())
        throw std::runtime_error("cannot open a pseudo-terminal");
    module_->registerAs(mapFile_, "COM" + std::to_string(comNumber));
}

void SimPort::settle()
{
    module_->settle(false);
}

SimPort::~SimPort()
{
    module_->stop();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace testsupport
