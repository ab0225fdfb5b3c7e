#pragma once
// The simulated module on a pseudo-terminal. A thread reads what the program under
// test writes and hands each byte to the current personality: the command
// personality echoes and answers command lines; other protocols (the update mode)
// are personalities of their own that a command can switch to.
#include "commands.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim {

class SerialModule;

// Faults of the command personality; all off by default.
struct SerialFaults {
    bool noEcho = false;
    int wrongEchoAt = 0;       // 1-based byte of each line whose echo is garbled (0: none)
    bool noAnswer = false;     // obey commands but never answer
    bool noLineEnd = false;    // answers go out without CR LF
    std::string prefix;        // extra bytes sent ahead of each answer
    int answerPieces = 1;      // answer cut into this many pieces ...
    int pieceGapMs = 0;        // ... with this pause between them
    bool useRawReply = false;  // send rawReply instead of the answer and its CR LF
    std::string rawReply;
    // A real line: each byte takes its time on the wire at this rate (8N1), and the
    // module's bytes reach the program only after the adapter's latency.
    int pacedBaud = 0;         // 0: bytes pass at once
    int adapterLatencyMs = 0;
};

class Personality {
public:
    virtual ~Personality() = default;
    // One byte from the program under test, on the module's thread.
    virtual void onByte(std::uint8_t byte, SerialModule& module) = 0;
    // Called on the module's thread at least every 10 ms, for messages the module
    // sends on its own.
    virtual void onIdle(SerialModule& module) { (void)module; }
    // True while onIdle may send something once the program's clock moves on.
    virtual bool waitsForTime() const { return false; }
};

class CommandPersonality : public Personality {
public:
    explicit CommandPersonality(ModuleCommands& commands) : commands_(commands) {}
    void onByte(std::uint8_t byte, SerialModule& module) override;

private:
    void answerLine(const std::string& line, SerialModule& module);
    ModuleCommands& commands_;
    std::string line_;
    int linePos_ = 0;
};

class SerialModule {
public:
    explicit SerialModule(ModuleCommands& commands);
    ~SerialModule();
    SerialModule(const SerialModule&) = delete;
    SerialModule& operator=(const SerialModule&) = delete;

    // Opens the pseudo-terminal and starts the module thread.
    bool start();
    // Adds the terminal to a serial-port map under this name; stop() removes it.
    bool registerAs(const std::string& mapFile, const std::string& comName);
    // Ends the thread and closes the terminal: to the program the port vanishes.
    void stop();

    const std::string& devicePath() const { return slavePath_; }
    ModuleCommands& commands() { return commands_; }

    void setFaults(const SerialFaults& f);
    SerialFaults faults() const;

    // Bytes the program under test sent, in order.
    std::string received() const;
    // Command lines received (CR LF removed), in order.
    std::vector<std::string> lines() const;
    void clearRecord();

    // For personalities, on the module's thread.
    void send(std::string_view bytes);
    void pauseMs(int ms);
    bool stopping() const { return stopping_; }
    void recordLine(const std::string& line);
    void switchTo(std::unique_ptr<Personality> next);

    // For a test clock: returns once the module has taken every byte the program
    // wrote, has done what is due at the present time of the program's clock (when
    // `timeMoved`), and all it sent can be read on the program's side. A limit the
    // program counts on that clock then runs out only when the module has nothing
    // left to say. Call it on the program's thread, while the program waits.
    void settle(bool timeMoved);

    // Bytes waiting to be read by the program on the terminal's side.
    int pendingForProgram() const;
    // The speed the program set on its side of the terminal (bit/s), or 0.
    int lineSpeed() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    void run();
    void beginWork();
    void endWork();
    bool quiet() const;
    void makeVisibleToProgram() const;
    void adoptNext();
    void deliver(std::uint8_t byte);
    void writeHeld();
    // Paced line: writes the module's bytes that are due, and waits for a byte's arrival.
    void writeDue();
    void waitUntil(TimePoint t);
    void writeNow(std::string_view bytes);
    std::chrono::nanoseconds byteTime() const;

    ModuleCommands& commands_;
    int master_ = -1;
    int slaveKeep_ = -1; // keeps the terminal's settings alive between opens
    std::string slavePath_;
    std::string mapFile_;
    std::atomic<bool> stopping_{false};
    // What the module sends in answer to one byte goes out in one write: the terminal
    // then shows it to the program all at once, never the echo without its answer.
    // Module thread only.
    std::string held_;
    std::thread thread_;
    mutable std::mutex mutex_;
    SerialFaults faults_;
    std::string received_;
    std::vector<std::string> lines_;
    std::unique_ptr<Personality> personality_;
    std::unique_ptr<Personality> next_;
    std::deque<std::pair<TimePoint, char>> outbound_; // paced bytes not yet due
    TimePoint txFree_{};
    TimePoint rxFree_{};

    // Settling: odd while the module thread works on input or idle messages.
    std::atomic<std::uint64_t> work_{0};
    std::atomic<bool> outboundPending_{false};
    std::atomic<bool> waitsForTime_{false};
    std::atomic<bool> switchPending_{false};
    int wakeFd_ = -1;
    std::mutex settleMutex_;
    std::condition_variable settled_;
    std::uint64_t settleAsked_ = 0;
    std::uint64_t settleDone_ = 0;
};

} // namespace sim
