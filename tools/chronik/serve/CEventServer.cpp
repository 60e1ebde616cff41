// Routes, limits and the run of the event server.
#include "CEventServer.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "CEventQuery.h"
#include "CRecordPrinter.h"
#include "ServeAssets.h"

namespace {

const char kJson[] = "application/json; charset=utf-8";

sigset_t StopSignals()
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    return stop;
}

// Every answer: no caching without asking again, no content sniffing, and
// a page that may load nothing but its own script and style and talk to
// nothing but this server.
httplib::Headers DefaultHeaders()
{
    return {{"Cache-Control", "no-cache"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; "
             "base-uri 'none'; form-action 'self'; frame-ancestors 'none'"}};
}

// Only SO_REUSEADDR, so that a second server on the same address fails to
// bind instead of sharing the port.
void SocketOptions(socket_t sock)
{
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace

CEventServer::CEventServer(const std::string& dir) : m_source(dir), m_cache(m_source, kMaxAge, kCachedQueries)
{
    Routes();
    Limits();
}

void CEventServer::Routes()
{
    auto asset = [](const char* text, size_t size, const char* type) {
        auto body = std::make_shared<const CEventSnapshot::Body>(std::string(text, size));
        return [body, type](const httplib::Request& req, httplib::Response& res) { Send(req, res, *body, type); };
    };
    auto page = asset(kPage_index_html, sizeof kPage_index_html - 1, "text/html; charset=utf-8");
    m_http.Get("/", page);
    m_http.Get(R"(/index\.html)", page);
    m_http.Get(R"(/app\.js)", asset(kPage_app_js, sizeof kPage_app_js - 1, "text/javascript; charset=utf-8"));
    m_http.Get(R"(/app\.css)", asset(kPage_app_css, sizeof kPage_app_css - 1, "text/css; charset=utf-8"));
    m_http.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });
    m_http.Get("/api/active", [this](const httplib::Request& req, httplib::Response& res) { Active(req, res); });
    m_http.set_error_handler(httplib::Server::HandlerWithResponse(OnError));
    m_http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Fail(res, 500, "internal error");
    });
}

// A slow client is dropped after two seconds without a byte; an idle kept
// connection after two seconds; no request needs a body. Answers go out at
// once (no delay waiting for the client's acknowledgement of the head).
void CEventServer::Limits()
{
    m_http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    m_http.set_socket_options(SocketOptions);
    m_http.set_tcp_nodelay(true);
    m_http.set_read_timeout(2, 0);
    m_http.set_write_timeout(5, 0);
    m_http.set_keep_alive_timeout(2);
    m_http.set_keep_alive_max_count(1000);
    m_http.set_payload_max_length(4096);
    m_http.set_default_headers(DefaultHeaders());
}

void CEventServer::Send(const httplib::Request& req, httplib::Response& res, const CEventSnapshot::Body& body,
                        const char* type)
{
    res.set_header("ETag", body.tag);
    if (req.get_header_value("If-None-Match") == body.tag) {
        res.status = 304;
        return;
    }
    res.set_content(body.text, type);
}

void CEventServer::Fail(httplib::Response& res, int status, const std::string& message)
{
    res.status = status;
    res.set_content("{\"error\": " + CRecordPrinter::JsonString(message) + "}\n", kJson);
}

// Errors the library finds itself (no route, a request it cannot parse, one
// too long) get a body naming them; the limits on a request's size are a
// bad request like any other.
httplib::Server::HandlerResponse CEventServer::OnError(const httplib::Request&, httplib::Response& res)
{
    switch (res.status) {
    case 413: Fail(res, 400, "request body too long"); break;
    case 414: Fail(res, 400, "request line too long"); break;
    case 431: Fail(res, 400, "request headers too long"); break;
    default:
        if (res.body.empty())
            Fail(res, res.status, res.status == 404 ? "not found" : res.status == 400 ? "bad request" : "refused");
    }
    return httplib::Server::HandlerResponse::Handled;
}

void CEventServer::Events(const httplib::Request& req, httplib::Response& res)
{
    CEventQuery q;
    std::string problem;
    if (!CEventQuery::ForEvents(req.params, static_cast<uint32_t>(std::time(nullptr)), q, problem))
        return Fail(res, 400, problem);
    Send(req, res, *m_cache.Get({false, q.from, q.to, q.station})->EventsBody(q), kJson);
}

void CEventServer::Active(const httplib::Request& req, httplib::Response& res)
{
    CEventQuery q;
    std::string problem;
    if (!CEventQuery::ForActive(req.params, q, problem)) return Fail(res, 400, problem);
    Send(req, res, *m_cache.Get({true, 0, q.to, q.station})->ActiveBody(q), kJson);
}

int CEventServer::Bind(const CListenAddress& listen)
{
    errno = 0;
    int port = listen.port == 0 ? m_http.bind_to_any_port(listen.host)
                                : m_http.bind_to_port(listen.host, listen.port) ? listen.port : -1;
    if (port > 0) m_http.WidenBacklog();
    return port;
}

// SIGINT and SIGTERM are taken by a thread of their own, which stops the
// server; every other thread, the server's included, has them blocked.
bool CEventServer::ServeUntilSignalled()
{
    const sigset_t stop = StopSignals();
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        int signal = 0;
        sigwait(&stop, &signal);
        // A signal before the server runs would be lost on it: wait for it.
        while (!done && !m_http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!done) m_http.stop();
    });
    bool ok = m_http.listen_after_bind();
    done = true;
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    return ok;
}

int CEventServer::Run(const CListenAddress& listen, const std::string& dir)
{
    int port = Bind(listen);
    if (port <= 0) {
        fprintf(stderr, "chronik: cannot listen on %s port %d: %s\n", listen.host.c_str(), listen.port,
                errno ? strerror(errno) : "address not usable");
        return 1;
    }
    printf("chronik: serving %s at %s\n", dir.c_str(), listen.Url(port).c_str());
    fflush(stdout);
    if (!ServeUntilSignalled()) {
        fprintf(stderr, "chronik: serving on %s stopped: %s\n", listen.Url(port).c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

int CEventServer::Main(const std::string& listenText, const std::string& dir)
{
    CListenAddress listen;
    std::string problem;
    if (!CListenAddress::Parse(listenText, listen, problem)) {
        fprintf(stderr, "chronik: %s\n", problem.c_str());
        return 2;
    }
    char real[PATH_MAX];
    struct stat st;
    if (!realpath(dir.empty() ? "." : dir.c_str(), real) || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "chronik: %s is not a directory\n", dir.c_str());
        return 1;
    }
    // The stop signals are blocked before any thread starts, so that only
    // the watcher takes them; a client gone away must not end the server.
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    CEventServer server(real);
    return server.Run(listen, real);
}
