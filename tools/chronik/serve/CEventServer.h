// The event server of `chronik serve`: the built-in page, its script and
// style, and the JSON interface over the records of a store directory fixed
// at start. Nothing it serves writes to the store.
#pragma once

#include <httplib.h>
#include <sys/socket.h>

#include <string>

#include "CEventCache.h"
#include "CListenAddress.h"
#include "CRecordSource.h"

class CEventServer {
public:
    // The serve command: checks the arguments, then serves until SIGINT or
    // SIGTERM. Returns the tool's exit status (2 for a bad --listen, 1 when
    // the directory is missing or the address cannot be bound).
    static int Main(const std::string& listen, const std::string& dir);

    explicit CEventServer(const std::string& dir);
    int Run(const CListenAddress& listen, const std::string& dir);

    // Snapshots are at most this old when served: with the page asking every
    // second, a new event shows within about 1.3 s of its Write.
    static constexpr std::chrono::milliseconds kMaxAge{300};
    static constexpr size_t kCachedQueries = 64;
    static constexpr size_t kThreads = 128;

private:
    void Routes();
    void Limits();
    void Events(const httplib::Request& req, httplib::Response& res);
    void Active(const httplib::Request& req, httplib::Response& res);
    static void Send(const httplib::Request& req, httplib::Response& res, const CEventSnapshot::Body& body,
                     const char* type);
    static void Fail(httplib::Response& res, int status, const std::string& message);
    static httplib::Server::HandlerResponse OnError(const httplib::Request& req, httplib::Response& res);
    int Bind(const CListenAddress& listen);
    bool ServeUntilSignalled();

    // The library listens with a backlog of 5, so clients connecting at
    // once would wait a second for a retried connection: this widens it.
    class Http : public httplib::Server {
    public:
        void WidenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
    };

    CRecordSource m_source;
    CEventCache m_cache;
    Http m_http;
};
