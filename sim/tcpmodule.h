#pragma once
// The simulated module's TCP side: listens on 127.0.0.1 and answers each command line
// ended by CR LF with its answer and CR LF, through the same command table as the
// serial side. A thread of its own serves every connection.
#include "commands.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// Faults of the TCP side; all off by default. They shape every answer that follows.
struct TcpFaults {
    bool noAnswer = false;    // obey commands but never answer
    bool bareLineEnd = false; // answer with CR LF alone
    bool nulEnd = false;      // end the answer with a NUL instead of CR LF
    bool splitLineEnd = false; // two blocks: the answer and its CR, then the LF
    // The second block of a split answer waits until the test calls releaseBlock().
    bool holdSecondBlock = false;
    int blockGapMs = 0;        // pause between the blocks of a split answer
    // Close the connection after this many bytes of the answer (0: instead of answering;
    // -1: never).
    int closeAfterBytes = -1;
    // Send these bytes instead of the answer and its line end (used when not empty).
    std::string rawReply;
};

class TcpModule {
public:
    explicit TcpModule(ModuleCommands& commands);
    ~TcpModule();
    TcpModule(const TcpModule&) = delete;
    TcpModule& operator=(const TcpModule&) = delete;

    // Listens on 127.0.0.1:port (0: a free port) and starts the thread.
    bool start(std::uint16_t port);
    // Closes every connection and the listener; ends the thread.
    void stop();
    // The port it listens on, once started.
    std::uint16_t port() const { return port_; }

    void setFaults(const TcpFaults& f);
    TcpFaults faults() const;
    // Lets a held second block go out.
    void releaseBlock();

    // Bytes received, over all connections, in order.
    std::string received() const;
    // Command lines received (CR LF removed), in order.
    std::vector<std::string> lines() const;
    // Connections accepted so far, and those still open.
    int connections() const;
    int openConnections() const;
    // Answers (or answer parts up to a close) sent so far.
    int answersSent() const;
    // True while a second block is held back.
    bool holding() const;
    void clearRecord();

private:
    struct Client {
        int fd = -1;
        std::string line;
    };
    void run();
    void acceptClient();
    // false when the client went away or the module closed it.
    bool serve(Client& c);
    bool answerLine(Client& c, const std::string& line);
    bool sendAll(int fd, const std::string& bytes);
    void waitForRelease();

    ModuleCommands& commands_;
    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<Client> clients_; // the module's thread only

    mutable std::mutex mutex_;
    std::condition_variable released_;
    TcpFaults faults_;
    std::string received_;
    std::vector<std::string> lines_;
    int connections_ = 0;
    int open_ = 0;
    int answers_ = 0;
    int releases_ = 0;
    bool holding_ = false;
};

} // namespace sim
