#pragma once
// The script table and its file: one device command and the expected answer (a
// regular expression) per script line. Shared by the worker thread and the Ethernet
// script walk; no widgets here.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr int ScriptTableSize = 2000;
// Longest line of a script file, its line end not counted.
inline constexpr std::size_t ScriptLineLimit = 255;

// 8-bit texts, bytes as read. Entries at and beyond ScriptLineCount keep what an
// earlier, longer script left there.
extern std::array<std::string, 2000> ScriptCommands;
extern std::array<std::string, 2000> ScriptAnswers;
extern std::int32_t ScriptLineCount;
// Asks a running script to end before its next line.
extern std::atomic<bool> StopScript;

// Loads the named file into the script table. False when it cannot be opened or holds
// no script line; ScriptLineCount is 0 then.
bool LoadScript(const char* fileName);
// The same from a file that is already open (read from where it stands; not closed).
bool LoadScriptFrom(std::FILE* file);

// Whether `expected`, a regular expression in Perl syntax, matches the whole of
// `answer`. Throws the regex library's error (boost::regex_error, derived from
// std::runtime_error) for an invalid expression or one whose match the library gives
// up on as too complex.
bool CheckAnswer(const char* answer, const char* expected);
