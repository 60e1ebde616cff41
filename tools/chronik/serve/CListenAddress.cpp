// Parsing of the event server's listen address.
#include "CListenAddress.h"

#include <arpa/inet.h>

#include "CToolArgs.h"

bool CListenAddress::Parse(const std::string& text, CListenAddress& address, std::string& problem)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        problem = "--listen needs ADDR:PORT, e.g. 127.0.0.1:8080";
        return false;
    }
    std::string host = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    if (host == "localhost") host = "127.0.0.1";
    unsigned char bytes[16];
    bool v4 = !bracketed && inet_pton(AF_INET, host.c_str(), bytes) == 1;
    bool v6 = bracketed && inet_pton(AF_INET6, host.c_str(), bytes) == 1;
    if (!v4 && !v6) {
        problem = "--listen address must be an IPv4 address, an IPv6 address in brackets or localhost";
        return false;
    }
    uint32_t number = 0;
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        !CToolArgs::ParseNumber(port, number) || number > 65535) {
        problem = "--listen port must be 0 to 65535";
        return false;
    }
    address.host = host;
    address.port = static_cast<int>(number);
    address.ipv6 = v6;
    return true;
}

std::string CListenAddress::Url(int boundPort) const
{
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(boundPort) + "/";
}
