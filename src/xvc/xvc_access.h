// Who may use the cable through the XVC server: the networks of an allow list, and whether a
// listening address reaches beyond this machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::xvc {

// An IPv4 network, host byte order.
struct XvcNet {
    uint32_t address = 0;
    uint32_t mask = 0;
};

// True for a dotted IPv4 address.
bool xvc_is_ipv4(const std::string& text);
// Reads "ADDR" (one host) or "ADDR/PREFIX" (0 to 32); host bits below the prefix are ignored.
// Empty on success, otherwise why the text is not a network.
std::string xvc_parse_net(const std::string& text, XvcNet* net);
// Every text of the list read into nets; the first problem, naming its entry, or empty.
std::string xvc_parse_nets(const std::vector<std::string>& texts, std::vector<XvcNet>* nets);
// True when the host (host byte order) lies in one of the nets.
bool xvc_net_allows(const std::vector<XvcNet>& nets, uint32_t host);
// False for 127.0.0.0/8, the addresses only this machine reaches; true for the rest
// (0.0.0.0 included).
bool xvc_beyond_loopback(const std::string& address);

}  // namespace vireo::xvc
