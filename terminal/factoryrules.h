#pragma once
// The factory dialog's rules as functions of plain values: the combined query and
// its answer, the fill, the up-down steps and the setting commands. No Qt here, so
// the fuzzer builds without it.
#include "platform/clock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace terminal {

// Arc settings and the Iset option in one query; the answer holds six fields.
inline constexpr std::string_view FactoryQuery = ":CONF:ARC:CONT?;NUM?;TIME?;WAIT?;RAMP?;:SYS:KAVO:ISET?\r\n";
inline constexpr int FactoryFieldCount = 6;
inline constexpr char FactoryFieldSeparator = ';';

// 255 characters and the terminating zero.
inline constexpr std::size_t FactoryAnswerBufferSize = 256;
inline constexpr std::size_t FactoryAnswerLimit = FactoryAnswerBufferSize - 1;
inline constexpr std::size_t FactoryReadBufferSize = 256;
inline constexpr std::size_t FactoryCommandBufferSize = 256;

// The answer read: 50 polls counted from the first, whatever arrives in between.
inline constexpr int FactoryAnswerPolls = 50;
inline constexpr std::uint32_t FactoryPollMs = 10;
inline constexpr std::uint32_t SettingPauseMs = 100;
inline constexpr std::uint32_t FactoryResetPauseMs = 300;

inline constexpr int UpDownMin = 0;
inline constexpr int UpDownMax = 100;

inline constexpr std::array<double, 12> TimeSteps{0.001, 0.002, 0.005, 0.01, 0.02, 0.05,
                                                  0.1,   0.2,   0.5,   1,    2,    5};
inline constexpr std::array<double, 18> RampSteps{10,     20,     50,     100,     200,     500,
                                                  1000,   2000,   5000,   10000,   20000,   50000,
                                                  100000, 200000, 500000, 1000000, 2000000, 5000000};

inline constexpr std::string_view ArcEnabledOn = ":CONF:ARC:CONT 1\r\n";
inline constexpr std::string_view ArcEnabledOff = ":CONF:ARC:CONT 0\r\n";
inline constexpr std::string_view ArcNumCommand = ":CONF:ARC:NUM ";
inline constexpr std::string_view ArcTimeCommand = ":CONF:ARC:TIME ";
inline constexpr std::string_view ArcWaitCommand = ":CONF:ARC:WAIT ";
inline constexpr std::string_view ArcRampCommand = ":CONF:ARC:RAMP ";
inline constexpr std::string_view IsetOn = ":SYS:KAVO:ISET 1\r\n";
inline constexpr std::string_view IsetOff = ":SYS:KAVO:ISET 0\r\n";
inline constexpr std::string_view DateCommand = "*DATE,";
inline constexpr std::string_view TimeCommand = "*TIME,";
inline constexpr std::string_view FactoryResetCommand = ":SYS:KAVO:FACTORYRESET 1\r\n";
inline constexpr std::string_view LocalCommand = ":CONF:INTER LOCAL\r\n";
inline constexpr std::string_view LineEnd = "\r\n";

// Numbers read the way atol and atof read them in the "C" locale: leading blanks,
// a sign, the longest number that follows; 0 without one; never an error.
long long ReadWhole(const std::string& text);
double ReadReal(const std::string& text);
// printf's "%G" with "." as the decimal point, whatever the locale.
std::string FormatG(double value);

// The fields of an answer (cut at its CR LF); count says how many it holds (1 to 6):
// even an empty answer holds field 1, the empty text. The sixth keeps any further ";"
// and text.
struct FactoryFields {
    int count = 0;
    std::array<std::string, FactoryFieldCount> text;
};
FactoryFields ParseFactoryAnswer(std::string_view answer);

// What the dialog's controls hold, as plain values.
struct FactoryValues {
    bool arcEnabled = false;
    int arcNum = 0; // udArcNum's position, shown in txtArcNum
    std::string arcTime;
    std::string arcWait;
    std::string arcRamp;
    bool iset = false;
    bool operator==(const FactoryValues&) const = default;
};

// The fill: each field the answer holds sets its control; a control whose field is
// missing keeps what it had.
FactoryValues FillFactoryValues(const FactoryFields& fields, const FactoryValues& before);

int ClampToUpDown(long long value);
// The index of the first step strictly greater than the number in text, else 0.
int StepPositionFor(const std::string& text, std::span<const double> steps);
// An up-down position put back within the table.
int ClampStepPosition(int position, std::span<const double> steps);

struct FactoryCommand {
    std::string line;
    std::uint32_t pauseMs = 0; // after the line
    bool operator==(const FactoryCommand&) const = default;
};

struct FactoryPlan {
    std::vector<FactoryCommand> commands;
    // Headers of setting commands not sent because their text would overrun the
    // command buffer.
    std::vector<std::string> refused;
};

struct ArcChanges {
    bool enabledChanged = false;
    bool numChanged = false;
    bool timeChanged = false;
    bool waitChanged = false;
    bool rampChanged = false;
    bool enabled = false;
    std::string num, time, wait, ramp; // edit texts, Latin-1 bytes
};

FactoryPlan ArcOkCommands(const ArcChanges& arc);
FactoryPlan LumetraOkCommands(bool iset);
FactoryPlan DateOkCommands(const platform::LocalTime& now);

std::string FactoryDateText(const platform::LocalTime& t); // "yy-mm-dd"
std::string FactoryTimeText(const platform::LocalTime& t); // "hh:nn:ss"

// Collects the answer poll by poll without ever holding more than 255 characters.
class FactoryAnswerCollector {
public:
    // How many bytes the next poll may take (never more than the read buffer can
    // hold with its terminating zero).
    std::size_t room() const;
    // Takes at most room() bytes; the rest is dropped.
    void append(const char* bytes, std::size_t count);
    bool hasLineEnd() const;
    // The text before the first CR LF (all of it when there is none).
    std::string answer() const;
    const std::string& collected() const { return text_; }

private:
    std::string text_;
};

} // namespace terminal
