// Where the event server listens: "ADDR:PORT" as --listen takes it.
#pragma once

#include <string>

class CListenAddress {
public:
    // ADDR is an IPv4 address, an IPv6 address in brackets or "localhost"
    // (127.0.0.1); PORT is 0 to 65535, 0 for any free port. On failure
    // problem names what is wrong.
    static bool Parse(const std::string& text, CListenAddress& address, std::string& problem);

    // "http://ADDR:PORT/" for the port actually bound.
    std::string Url(int boundPort) const;

    std::string host;  // numeric, without brackets
    int port = 0;
    bool ipv6 = false;
};
