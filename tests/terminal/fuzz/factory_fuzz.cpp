// libFuzzer: random module output through the factory answer's collection, its
// fields, the fill, the up-down placing and the Arc Ok commands built from it.
// The first byte picks how the rest is cut into polls.
#include "terminal/factoryrules.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void checkValues(const terminal::FactoryValues& v)
{
    check(v.arcNum >= terminal::UpDownMin && v.arcNum <= terminal::UpDownMax);
    for (const std::string* t : {&v.arcTime, &v.arcWait, &v.arcRamp}) {
        check(t->size() <= 13); // "-1.23457E+308"
        const int p = terminal::StepPositionFor(*t, terminal::RampSteps);
        check(p >= 0 && p < static_cast<int>(terminal::RampSteps.size()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t pollSize = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t count = size - 1;

    terminal::FactoryAnswerCollector collector;
    for (std::size_t pos = 0; pos < count && !collector.hasLineEnd(); pos += pollSize) {
        const std::size_t room = collector.room();
        check(room < terminal::FactoryReadBufferSize);
        const std::size_t before = collector.collected().size();
        const std::size_t n = std::min(pollSize, count - pos);
        collector.append(bytes + pos, n);
        check(collector.collected().size() == before + std::min(n, room));
        check(collector.collected().size() <= terminal::FactoryAnswerLimit);
    }
    const std::string answer = collector.answer();
    check(answer.find("\r\n") == std::string::npos);

    const terminal::FactoryFields fields = terminal::ParseFactoryAnswer(answer);
    check(fields.count >= 1 && fields.count <= terminal::FactoryFieldCount);
    std::string joined;
    for (int i = 0; i < fields.count; ++i) {
        if (i > 0)
            joined += ';';
        joined += fields.text[i];
        if (i < fields.count - 1)
            check(fields.text[i].find(';') == std::string::npos);
    }
    check(joined == answer);

    const terminal::FactoryValues before{true, 42, "keep-time", "keep-wait", "keep-ramp", true};
    const terminal::FactoryValues v = terminal::FillFactoryValues(fields, before);
    check(v.arcNum >= 0 && v.arcNum <= 100);
    if (fields.count < 3)
        check(v.arcTime == before.arcTime);
    if (fields.count < 6)
        check(v.iset == before.iset);
    if (fields.count >= 5)
        checkValues(v);

    // The fields, as typed texts, through the up-downs and the Arc Ok commands.
    terminal::ArcChanges arc{true, true, true, true, true, v.arcEnabled,
                             fields.text[1], fields.text[2], fields.text[3], fields.text[4]};
    for (const std::string* t : {&arc.time, &arc.wait, &arc.ramp}) {
        const int p = terminal::StepPositionFor(*t, terminal::TimeSteps);
        check(p >= 0 && p < static_cast<int>(terminal::TimeSteps.size()));
    }
    const terminal::FactoryPlan plan = terminal::ArcOkCommands(arc);
    check(plan.commands.size() + plan.refused.size() == 6);
    check(plan.commands.back().line == ":CONF:INTER LOCAL\r\n");
    for (const auto& c : plan.commands)
        check(c.line.size() < terminal::FactoryCommandBufferSize && c.line.ends_with("\r\n"));
    return 0;
}
