#include "gpibbus.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr int NoSecondaryAddress = 0;
constexpr int FirstSecondaryAddress = 0x60;
constexpr int LastSecondaryAddress = 0x7E;

std::string quoted(const void* buf, long cnt)
{
    std::string out = "\"";
    const auto* p = static_cast<const unsigned char*>(buf);
    for (long i = 0; i < cnt; ++i) {
        const unsigned char c = p[i];
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            }
        }
    }
    return out + "\"";
}

std::string joined(std::initializer_list<long> values)
{
    std::string out;
    for (long v : values) {
        if (!out.empty())
            out += ' ';
        out += std::to_string(v);
    }
    return out;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

std::vector<GpibListenerConfig> parseGpibListeners(std::string_view spec, std::vector<std::string>* rejected)
{
    std::vector<GpibListenerConfig> out;
    while (!spec.empty()) {
        const std::size_t comma = spec.find(',');
        const std::string_view item = trimmed(spec.substr(0, comma));
        spec = comma == std::string_view::npos ? std::string_view{} : spec.substr(comma + 1);
        if (item.empty())
            continue;
        const std::size_t colon = item.find(':');
        const std::string_view number = item.substr(0, colon);
        const std::string_view option = colon == std::string_view::npos ? std::string_view{} : item.substr(colon + 1);
        GpibListenerConfig c;
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), c.address);
        const bool numberOk = ec == std::errc{} && end == number.data() + number.size() &&
                              c.address >= 1 && c.address <= GpibBus::MaxPrimaryAddress;
        const bool optionOk = option.empty() || option == "silent";
        const bool duplicate = std::any_of(out.begin(), out.end(),
                                           [&](const GpibListenerConfig& o) { return o.address == c.address; });
        if (!numberOk || !optionOk || duplicate) {
            if (rejected)
                rejected->emplace_back(item);
            continue;
        }
        c.silent = option == "silent";
        out.push_back(c);
    }
    return out;
}

GpibBus::GpibBus(const std::vector<GpibListenerConfig>& listeners)
{
    for (const GpibListenerConfig& c : listeners) {
        auto l = std::make_unique<Listener>();
        l->address = c.address;
        l->silent = c.silent;
        listeners_.push_back(std::move(l));
    }
}

GpibBus::Listener* GpibBus::listenerAt(int address)
{
    for (auto& l : listeners_)
        if (l->address == address)
            return l.get();
    return nullptr;
}

GpibBus::Device* GpibBus::device(int ud)
{
    auto it = devices_.find(ud);
    return it == devices_.end() ? nullptr : &it->second;
}

int GpibBus::fail(int err, int extraStatus)
{
    status_ = {gpib::StatusError | gpib::StatusComplete | extraStatus, err, 0};
    return status_.sta;
}

int GpibBus::complete(int count, int extraStatus)
{
    status_ = {gpib::StatusComplete | extraStatus, 0, count};
    return status_.sta;
}

int GpibBus::ibdev(int boardId, int pad, int sad, int tmo, int eot, int eos)
{
    record("ibdev " + joined({boardId, pad, sad, tmo, eot, eos}));
    if (boardId != 0) {
        fail(gpib::ErrNoBoard);
        return -1;
    }
    const bool sadOk = sad == NoSecondaryAddress || (sad >= FirstSecondaryAddress && sad <= LastSecondaryAddress);
    if (pad < 0 || pad > MaxPrimaryAddress || !sadOk || tmo < 0 || tmo > MaxTimeoutCode) {
        fail(gpib::ErrArgument);
        return -1;
    }
    const int ud = nextDescriptor_++;
    devices_[ud] = Device{pad, listenerAt(pad)};
    complete(0);
    return ud;
}

int GpibBus::ibconfig(int ud, int option, int v)
{
    record("ibconfig " + joined({ud, option, v}));
    if (!device(ud))
        return fail(gpib::ErrDriver);
    return complete(0);
}

int GpibBus::ibwrt(int ud, const void* buf, long cnt)
{
    if (cnt < 0 || (!buf && cnt > 0)) {
        record("ibwrt " + std::to_string(ud) + " ? " + std::to_string(cnt));
        return fail(gpib::ErrArgument);
    }
    record("ibwrt " + std::to_string(ud) + " " + quoted(buf, cnt) + " " + std::to_string(cnt));
    Device* d = device(ud);
    if (!d)
        return fail(gpib::ErrDriver);
    if (!d->listener)
        return fail(gpib::ErrNoListener);
    Listener& l = *d->listener;
    // One write is one message (it ends with EOI). Like a 488.2 device, a new
    // message discards an answer that was not read.
    l.output.clear();
    std::string_view message(static_cast<const char*>(buf), static_cast<std::size_t>(cnt));
    while (!message.empty()) {
        const std::size_t lf = message.find('\n');
        std::string_view line = message.substr(0, lf);
        message = lf == std::string_view::npos ? std::string_view{} : message.substr(lf + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        std::optional<std::string> answer = l.commands.answer(line);
        if (answer && !l.silent)
            l.output += *answer + AnswerTerminator;
    }
    return complete(static_cast<int>(cnt));
}

int GpibBus::ibrd(int ud, void* buf, long cnt)
{
    record("ibrd " + joined({ud, cnt}));
    if (cnt < 0 || (!buf && cnt > 0))
        return fail(gpib::ErrArgument);
    Device* d = device(ud);
    if (!d)
        return fail(gpib::ErrDriver);
    // Nobody talks: the read ends at once as a timeout instead of waiting for it.
    if (!d->listener || d->listener->output.empty())
        return fail(gpib::ErrAborted, gpib::StatusTimeout);
    std::string& out = d->listener->output;
    const std::size_t n = std::min(out.size(), static_cast<std::size_t>(cnt));
    std::memcpy(buf, out.data(), n);
    out.erase(0, n);
    return complete(static_cast<int>(n), out.empty() ? gpib::StatusEnd : 0);
}

int GpibBus::ibclr(int ud)
{
    record("ibclr " + std::to_string(ud));
    Device* d = device(ud);
    if (!d)
        return fail(gpib::ErrDriver);
    if (d->listener)
        d->listener->output.clear();
    return complete(0);
}

int GpibBus::ibonl(int ud, int v)
{
    record("ibonl " + joined({ud, v}));
    if (!device(ud))
        return fail(gpib::ErrDriver);
    if (v == 0)
        devices_.erase(ud);
    return complete(0);
}

void GpibBus::SendIFC(int boardId)
{
    record("SendIFC " + std::to_string(boardId));
    if (boardId != 0) {
        fail(gpib::ErrNoBoard);
        return;
    }
    complete(0);
}

void GpibBus::FindLstn(int boardId, const Addr4882_t* addrs, Addr4882_t* results, int limit)
{
    std::string line = "FindLstn " + std::to_string(boardId) + " ";
    std::vector<Addr4882_t> asked;
    for (int i = 0; addrs && i < MaxListEntries && addrs[i] != NOADDR; ++i)
        asked.push_back(addrs[i]);
    for (std::size_t i = 0; i < asked.size(); ++i) {
        line += i ? "," : "";
        line += std::to_string(asked[i]);
    }
    record(line + " " + std::to_string(limit));
    if (boardId != 0) {
        fail(gpib::ErrNoBoard);
        return;
    }
    if (!addrs || !results || limit <= 0) {
        fail(gpib::ErrArgument);
        return;
    }
    int found = 0;
    for (Addr4882_t a : asked) {
        if (!listenerAt(a))
            continue;
        if (found == limit) {
            // More listeners than the caller has room for.
            status_ = {gpib::StatusError | gpib::StatusComplete, gpib::ErrTable, found};
            return;
        }
        results[found++] = a;
    }
    complete(found);
}

int GpibBus::unsupported(const char* name)
{
    record(std::string(name) + " unsupported");
    return fail(gpib::ErrCapability);
}

} // namespace sim
