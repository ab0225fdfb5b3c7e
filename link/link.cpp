#include "link.h"

namespace links {

LinkKind LinkKindOfTab(int index)
{
    switch (index) {
    case 0:
        return LinkKind::Rs232;
    case 1:
        return LinkKind::Gpib;
    default:
        return LinkKind::Ethernet;
    }
}

void Link::setPort(std::unique_ptr<CRS232> port)
{
    // The old port is closed under the lock: nobody is inside an exchange with it.
    std::lock_guard lock(mutex_);
    port_ = std::move(port);
}

void Link::setGpibDevice(int descriptor)
{
    std::lock_guard lock(mutex_);
    gpibDevice_ = descriptor;
}

void Link::reset()
{
    releasePort();
    setGpibDevice(0);
    kind_.reset();
    commandDelay_.store(0);
}

} // namespace links
