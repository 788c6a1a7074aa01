#include "xvc/xvc_access.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace vireo::xvc {
namespace {

constexpr uint32_t kLoopbackNet = 0x7F000000, kLoopbackMask = 0xFF000000;

bool ipv4(const std::string& text, uint32_t* host) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    *host = ntohl(address.s_addr);
    return true;
}

}  // namespace

bool xvc_is_ipv4(const std::string& text) {
    uint32_t host = 0;
    return ipv4(text, &host);
}

std::string xvc_parse_net(const std::string& text, XvcNet* net) {
    const size_t slash = text.find('/');
    uint32_t address = 0;
    if (!ipv4(text.substr(0, slash), &address))
        return "not an IPv4 address or ADDR/PREFIX: '" + text + "'";
    int prefix = 32;
    if (slash != std::string::npos) {
        const char* first = text.data() + slash + 1;
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, prefix);
        if (first == last || error != std::errc() || end != last || prefix < 0 || prefix > 32)
            return "the prefix of '" + text + "' is not a number from 0 to 32";
    }
    net->mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    net->address = address & net->mask;
    return "";
}

std::string xvc_parse_nets(const std::vector<std::string>& texts, std::vector<XvcNet>* nets) {
    nets->clear();
    for (const std::string& text : texts) {
        XvcNet net;
        if (std::string problem = xvc_parse_net(text, &net); !problem.empty()) return problem;
        nets->push_back(net);
    }
    return "";
}

bool xvc_net_allows(const std::vector<XvcNet>& nets, uint32_t host) {
    return std::any_of(nets.begin(), nets.end(),
                       [host](const XvcNet& n) { return (host & n.mask) == n.address; });
}

bool xvc_beyond_loopback(const std::string& address) {
    uint32_t host = 0;
    return !ipv4(address, &host) || (host & kLoopbackMask) != kLoopbackNet;
}

}  // namespace vireo::xvc
