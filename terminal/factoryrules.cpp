#include "factoryrules.h"

#include "platform/clocalescope.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace terminal {
namespace {

using platform::cLocale;
using platform::CLocaleScope;

std::string twoDigits(int a, int b, int c, char separator)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", a, separator, b, separator, c);
    return buf;
}

// A setting command "header text CR LF" as the 256-character buffer holds it, or
// refused when the text would not fit with its terminating zero.
void addSetting(FactoryPlan& plan, std::string_view header, const std::string& text)
{
    if (header.size() + text.size() + LineEnd.size() + 1 > FactoryCommandBufferSize) {
        std::string_view name = header.substr(0, header.find(' '));
        plan.refused.emplace_back(name);
        return;
    }
    std::string line;
    line.reserve(header.size() + text.size() + LineEnd.size());
    line.append(header).append(text).append(LineEnd);
    plan.commands.push_back({std::move(line), SettingPauseMs});
}

} // namespace

long long ReadWhole(const std::string& text)
{
    // strtoll gives the nearest limit where atol's result would be undefined.
    const int savedErrno = errno;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    errno = savedErrno;
    return v;
}

double ReadReal(const std::string& text)
{
    const int savedErrno = errno;
    double v = ::strtod_l(text.c_str(), nullptr, cLocale());
    errno = savedErrno;
    return v;
}

std::string FormatG(double value)
{
    char buf[32];
    CLocaleScope c;
    int n = std::snprintf(buf, sizeof buf, "%G", value);
    return n > 0 ? std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1)) : std::string();
}

FactoryFields ParseFactoryAnswer(std::string_view answer)
{
    FactoryFields f;
    while (f.count < FactoryFieldCount - 1) {
        std::size_t sep = answer.find(FactoryFieldSeparator);
        f.text[f.count++] = std::string(answer.substr(0, sep));
        if (sep == std::string_view::npos)
            return f;
        answer.remove_prefix(sep + 1);
    }
    f.text[f.count++] = std::string(answer);
    return f;
}

int ClampToUpDown(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, UpDownMin, UpDownMax));
}

FactoryValues FillFactoryValues(const FactoryFields& fields, const FactoryValues& before)
{
    FactoryValues v = before;
    const int n = std::clamp(fields.count, 0, FactoryFieldCount);
    if (n > 0)
        v.arcEnabled = ReadWhole(fields.text[0]) != 0;
    if (n > 1)
        v.arcNum = ClampToUpDown(ReadWhole(fields.text[1]));
    if (n > 2)
        v.arcTime = FormatG(ReadReal(fields.text[2]));
    if (n > 3)
        v.arcWait = FormatG(ReadReal(fields.text[3]));
    if (n > 4)
        v.arcRamp = FormatG(ReadReal(fields.text[4]));
    if (n > 5)
        v.iset = ReadWhole(fields.text[5]) != 0;
    return v;
}

int StepPositionFor(const std::string& text, std::span<const double> steps)
{
    const double v = ReadReal(text);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] > v)
            return static_cast<int>(i);
    }
    return 0;
}

int ClampStepPosition(int position, std::span<const double> steps)
{
    if (position < 0)
        position = 0;
    const int last = static_cast<int>(steps.size()) - 1;
    if (position > last)
        position = last;
    return position;
}

FactoryPlan ArcOkCommands(const ArcChanges& arc)
{
    FactoryPlan plan;
    if (arc.enabledChanged)
        plan.commands.push_back({std::string(arc.enabled ? ArcEnabledOn : ArcEnabledOff), SettingPauseMs});
    if (arc.numChanged)
        addSetting(plan, ArcNumCommand, arc.num);
    if (arc.timeChanged)
        addSetting(plan, ArcTimeCommand, arc.time);
    if (arc.waitChanged)
        addSetting(plan, ArcWaitCommand, arc.wait);
    if (arc.rampChanged)
        addSetting(plan, ArcRampCommand, arc.ramp);
    plan.commands.push_back({std::string(LocalCommand), 0});
    return plan;
}

FactoryPlan LumetraOkCommands(bool iset)
{
    FactoryPlan plan;
    plan.commands.push_back({std::string(iset ? IsetOn : IsetOff), SettingPauseMs});
    plan.commands.push_back({std::string(LocalCommand), 0});
    return plan;
}

FactoryPlan DateOkCommands(const platform::LocalTime& now)
{
    FactoryPlan plan;
    plan.commands.push_back({std::string(DateCommand) + FactoryDateText(now) + std::string(LineEnd), SettingPauseMs});
    plan.commands.push_back({std::string(TimeCommand) + FactoryTimeText(now) + std::string(LineEnd), SettingPauseMs});
    plan.commands.push_back({std::string(FactoryResetCommand), FactoryResetPauseMs});
    plan.commands.push_back({std::string(LocalCommand), 0});
    return plan;
}

std::string FactoryDateText(const platform::LocalTime& t)
{
    return twoDigits(((t.year % 100) + 100) % 100, t.month, t.day, '-');
}

std::string FactoryTimeText(const platform::LocalTime& t)
{
    return twoDigits(t.hour, t.minute, t.second, ':');
}

std::size_t FactoryAnswerCollector::room() const
{
    return std::min(FactoryAnswerLimit - text_.size(), FactoryReadBufferSize - 1);
}

void FactoryAnswerCollector::append(const char* bytes, std::size_t count)
{
    text_.append(bytes, std::min(count, room()));
}

bool FactoryAnswerCollector::hasLineEnd() const
{
    return text_.find(LineEnd) != std::string::npos;
}

std::string FactoryAnswerCollector::answer() const
{
    return text_.substr(0, text_.find(LineEnd));
}

} // namespace terminal
