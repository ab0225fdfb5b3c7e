#pragma once
// The open link, with one owner: which kind Init opened, the COM port, the GPIB
// descriptor and the command delay. The window, the script worker and the factory
// dialog share it; an exchange (a send and the reading of its answer) holds the
// link's lock, so that an interactive command never takes the worker's answer or
// puts its bytes between the worker's.
#include "devices/rs232.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace links {

// The tabs of the link set-up, by index.
enum class LinkKind { Rs232 = 0, Gpib = 1, Ethernet = 2 };

// 0 RS-232, 1 GPIB, any other index Ethernet.
LinkKind LinkKindOfTab(int index);

class Link {
public:
    // The lock of one exchange. The port and descriptor it hands out stay valid
    // (never deleted, never replaced) while it lives. The lock is recursive, so a
    // Query may hold it around its Talk and Listen.
    class Exchange {
    public:
        CRS232* port() const { return link_->port_.get(); }
        int gpibDevice() const { return link_->gpibDevice_; }

    private:
        friend class Link;
        explicit Exchange(Link& link) : link_(&link), lock_(link.mutex_) {}
        Link* link_;
        std::unique_lock<std::recursive_mutex> lock_;
    };

    // Waits until no other thread is inside an exchange.
    Exchange exchange() { return Exchange(*this); }

    // The kind is fixed by Init and stays until Quit. Owner's thread only.
    void open(LinkKind kind) { kind_ = kind; }
    void close() { kind_.reset(); }
    std::optional<LinkKind> openKind() const { return kind_; }

    // The COM port in use; a port whose open failed is kept too, so that its owner
    // deletes it. A port replaced or released is deleted under the lock.
    void setPort(std::unique_ptr<CRS232> port);
    void releasePort() { setPort(nullptr); }
    // Owner's thread only (it is the only one that changes them).
    CRS232* port() const { return port_.get(); }
    int gpibDevice() const { return gpibDevice_; }

    // Written under the lock; kept after Quit.
    void setGpibDevice(int descriptor);

    // Milliseconds from the Delay field; read by the worker before every line.
    std::int32_t commandDelay() const { return commandDelay_.load(); }
    void setCommandDelay(std::int32_t ms) { commandDelay_.store(ms); }

    // Back to the start: no link, no port, descriptor 0, delay 0.
    void reset();

private:
    mutable std::recursive_mutex mutex_;
    std::optional<LinkKind> kind_;
    std::unique_ptr<CRS232> port_;
    int gpibDevice_ = 0;
    std::atomic<std::int32_t> commandDelay_{0};
};

} // namespace links
