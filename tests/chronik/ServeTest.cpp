// The event server over HTTP: the demo's day as chronik read lists it, the
// active faults, the query parameters and their refusals, hostile and slow
// clients, the built-in page, revalidation, and where it listens.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "chronik/ChronikTestDir.h"
#include "chronik/ServeTestSupport.h"

#ifdef CHRONIK_TOOL_PATH
namespace {

class ServeTest : public ChronikTest {
protected:
    void SetUp() override
    {
        ChronikTest::SetUp();
        WriteDemoEvents(m_dir.Path());
        m_server = std::make_unique<ServeProcess>(m_dir.Path());
        if (m_server->Unavailable()) GTEST_SKIP() << "this chronik has no serve command (built without cpp-httplib)";
        ASSERT_TRUE(m_server->Started()) << m_server->Output();
    }
    void TearDown() override
    {
        if (m_server && m_server->Started()) {
            EXPECT_EQ(m_server->Stop(), 0) << "the server did not stop cleanly";
        }
        ChronikTest::TearDown();
    }
    HttpReply Get(const std::string& target, const std::string& headers = "")
    {
        return HttpGet(m_server->Port(), target, headers);
    }
    // "timeText|clearTimeText|messageText|station" of each event of a body.
    static std::vector<std::string> Rows(const std::string& reply)
    {
        const std::string body = reply.substr(std::min(reply.size(), reply.find("\"events\"")));
        auto time = JsonValues(body, "timeText"), clear = JsonValues(body, "clearTimeText");
        auto message = JsonValues(body, "messageText"), station = JsonValues(body, "station");
        std::vector<std::string> rows;
        for (size_t i = 0; i < time.size(); ++i)
            rows.push_back(time[i] + "|" + clear.at(i) + "|" + message.at(i) + "|" + station.at(i));
        return rows;
    }

    std::unique_ptr<ServeProcess> m_server;
};

std::string ToolOutput(const std::string& args)
{
    std::string out;
    if (FILE* p = popen((std::string(CHRONIK_TOOL_PATH) + " " + args + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
    }
    return out;
}

TEST_F(ServeTest, DemoDayAsTheToolListsIt)
{
    HttpReply r = Get(std::string("/api/events?") + kDemoRange);
    ASSERT_EQ(r.status, 200) << r.head;
    EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_NE(r.body.find("\"truncated\": false"), std::string::npos);
    // Every object of chronik read --json, with the station and clear time added.
    std::string tool = ToolOutput("read --json '" + m_dir.Path() + "' '2024-03-01 00:00:00' '2024-03-01 23:59:59'");
    size_t objects = 0;
    for (size_t at = tool.find("  {"); at != std::string::npos; at = tool.find("  {", at + 1), ++objects) {
        std::string object = tool.substr(at + 2, tool.find('}', at) - at - 2);
        EXPECT_NE(r.body.find(object + ", \"station\": "), std::string::npos) << object;
    }
    EXPECT_EQ(objects, 14u);
    // Newest first; every occurrence with its clear, the station from the code.
    const std::vector<std::string> expected = {
        "2024-03-01 23:59:59||诊断服务器退出|0",
        "2024-03-01 22:10:00|2024-03-01 22:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 20:00:00||08#控制卡通信故障或未插卡|8",
        "2024-03-01 18:10:00|2024-03-01 18:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 16:45:00|2024-03-01 17:02:00|04#控制站工作/备用卡件之间组态不一致|4",
        "2024-03-01 14:10:00|2024-03-01 14:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 12:30:00|2024-03-01 12:31:10|1#24V电源故障|2",
        "2024-03-01 11:00:00||06#控制站03#数据转发卡I/O通信故障|6",
        "2024-03-01 10:10:00|2024-03-01 10:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 08:15:00||04#控制站01#机笼04#I/O卡件变送器故障|4",
        "2024-03-01 08:15:00|2024-03-01 09:05:00|04#控制站01#机笼03#I/O卡件模块故障|4",
        "2024-03-01 06:10:00|2024-03-01 06:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 02:10:00|2024-03-01 02:25:30|02#主控制卡总线0故障|2",
        "2024-03-01 00:00:01||诊断服务器启动|0",
    };
    EXPECT_EQ(Rows(r.body), expected);
    auto clearTimes = JsonValues(r.body, "clearTime");
    ASSERT_EQ(clearTimes.size(), 14u);
    EXPECT_EQ(clearTimes[1], std::to_string(kDemoDay + 22 * 3600 + 25 * 60 + 30));
    EXPECT_EQ(clearTimes[2], "0");
}

TEST_F(ServeTest, QueriesNarrowTheList)
{
    struct Case {
        std::string query;
        std::vector<std::string> rows;  // time|clear|message|station, newest first
        bool truncated;
    };
    const Case cases[] = {
        {std::string(kDemoRange) + "&station=4",
         {"2024-03-01 16:45:00|2024-03-01 17:02:00|04#控制站工作/备用卡件之间组态不一致|4",
          "2024-03-01 08:15:00||04#控制站01#机笼04#I/O卡件变送器故障|4",
          "2024-03-01 08:15:00|2024-03-01 09:05:00|04#控制站01#机笼03#I/O卡件模块故障|4"},
         false},
        {std::string(kDemoRange) + "&limit=2",
         {"2024-03-01 23:59:59||诊断服务器退出|0", "2024-03-01 22:10:00|2024-03-01 22:25:30|02#主控制卡总线0故障|2"},
         true},
        // Occurrences before the range that were still active when it began.
        {"from=2024-03-01%2012:00:00&to=2024-03-01%2012:59:59",
         {"2024-03-01 12:30:00|2024-03-01 12:31:10|1#24V电源故障|2",
          "2024-03-01 11:00:00||06#控制站03#数据转发卡I/O通信故障|6",
          "2024-03-01 08:15:00||04#控制站01#机笼04#I/O卡件变送器故障|4",
          "2024-03-01 00:00:01||诊断服务器启动|0"},
         false},
        {"from=1709251200&to=1709251200&station=128&limit=10000", {}, false},
    };
    for (const Case& c : cases) {
        HttpReply r = Get("/api/events?" + c.query);
        ASSERT_EQ(r.status, 200) << c.query;
        EXPECT_EQ(Rows(r.body), c.rows) << c.query;
        EXPECT_NE(r.body.find(c.truncated ? "\"truncated\": true" : "\"truncated\": false"), std::string::npos)
            << c.query;
    }
}

TEST_F(ServeTest, ActiveFaultsAreTheOccurrencesNotCleared)
{
    struct Case {
        const char* query;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"", {"08#控制卡通信故障或未插卡", "06#控制站03#数据转发卡I/O通信故障", "04#控制站01#机笼04#I/O卡件变送器故障"}},
        {"?station=4", {"04#控制站01#机笼04#I/O卡件变送器故障"}},
        {"?station=2", {}},
    };
    for (const Case& c : cases) {
        HttpReply r = Get(std::string("/api/active") + c.query);
        ASSERT_EQ(r.status, 200) << c.query;
        EXPECT_EQ(JsonValues(r.body, "messageText"), c.messages) << c.query;
        for (const std::string& clear : JsonValues(r.body, "clearTimeText")) EXPECT_EQ(clear, "");
    }
}

TEST_F(ServeTest, BadParametersAreRefusedNamingThem)
{
    const std::string tooLong(41, '1');
    const std::pair<std::string, std::string> cases[] = {
        {"/api/events?from=-5", "from must be"},
        {"/api/events?from=4294967296", "from must be"},
        {"/api/events?from=99999999999999999999999", "from must be"},
        {"/api/events?to=2200-01-01%2000:00:00", "to must be"},
        {"/api/events?from=2024-02-30%2025:00:00", "from must be"},
        {"/api/events?from=yesterday", "from must be"},
        {"/api/events?from=20&to=10", "to is earlier than from"},
        {"/api/events?from=" + tooLong, "from is too long"},
        {"/api/events?station=3", "station must be"},
        {"/api/events?station=130", "station must be"},
        {"/api/events?station=0x", "station must be"},
        {"/api/events?limit=0", "limit must be 1 to 10000"},
        {"/api/events?limit=10001", "limit must be 1 to 10000"},
        {"/api/events?limit=-1", "limit must be 1 to 10000"},
        {"/api/events?from=1&from=2", "parameter from given more than once"},
        {"/api/events?frm=1", "unknown parameter frm"},
        {"/api/events?%00%ff=1", "unknown parameter ??"},
        {"/api/active?from=1", "unknown parameter from"},
        {"/api/active?station=-2", "station must be"},
    };
    for (const auto& [target, message] : cases) {
        HttpReply r = Get(target);
        EXPECT_EQ(r.status, 400) << target;
        EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=utf-8") << target;
        EXPECT_NE(r.body.find("{\"error\": \"" + message), std::string::npos) << target << ": " << r.body;
    }
}

TEST_F(ServeTest, HostileRequestsGetAClientError)
{
    const std::string longQuery = "GET /api/events?" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n";
    std::string manyParameters = "GET /api/events?";
    for (int i = 0; i < 600; ++i) manyParameters += "a" + std::to_string(i) + "=1&";
    const std::pair<std::string, int> cases[] = {
        {"GET /../../../../etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"GET /app.js/../../../etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"GET /index.html/.. HTTP/1.1\r\n\r\n", 404},
        {"GET //etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"GET /appXjs HTTP/1.1\r\n\r\n", 404},
        {"GET /api/events/ HTTP/1.1\r\n\r\n", 404},
        {"GET /api HTTP/1.1\r\n\r\n", 404},
        {"POST /api/events HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 404},
        {"DELETE / HTTP/1.1\r\n\r\n", 404},
        {"BREW / HTTP/1.1\r\n\r\n", 400},
        {"garbage\r\n\r\n", 400},
        {"GET /api/events?from=%zz HTTP/1.1\r\n\r\n", 400},
        {longQuery, 400},
        {manyParameters + " HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nX-Long: " + std::string(10000, 'b') + "\r\n\r\n", 400},
        {"POST /api/events HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n", 400},
    };
    for (const auto& [request, status] : cases) {
        HttpReply r = HttpExchange(m_server->Port(), request);
        EXPECT_EQ(r.status, status) << request.substr(0, 60);
        EXPECT_EQ(r.body.find("root:"), std::string::npos);
    }
    EXPECT_EQ(Get("/").status, 200);
}

TEST_F(ServeTest, SlowClientsAreDroppedWhileOthersAreServed)
{
    const std::string partial[] = {"", "GET /api/ev", "GET /api/events HTTP/1.1\r\nHost: x\r\n"};
    std::vector<std::future<HttpReply>> slow;
    for (const std::string& p : partial)
        slow.push_back(std::async(std::launch::async, [&, p] { return HttpExchange(m_server->Port(), p, 8000); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Get("/api/active").status, 200);
    for (auto& f : slow) {
        HttpReply r = f.get();
        EXPECT_TRUE(r.status == 400 || (r.closed && r.status == 0)) << "a stalled client was never dropped";
    }
}

TEST_F(ServeTest, PageAndItsFilesAreBuiltIn)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/", "text/html; charset=utf-8", "<title>诊断事件</title>"},
        {"/index.html", "text/html; charset=utf-8", "当前故障"},
        {"/app.js", "text/javascript; charset=utf-8", "/api/events?"},
        {"/app.css", "text/css; charset=utf-8", "--cleared"},
    };
    for (const auto& [target, type, needle] : cases) {
        HttpReply r = Get(target);
        ASSERT_EQ(r.status, 200) << target;
        EXPECT_EQ(r.Header("Content-Type"), type) << target;
        EXPECT_NE(r.body.find(needle), std::string::npos) << target;
        EXPECT_NE(r.Header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
        for (const char* outside : {"src=\"http", "href=\"http", "url(http", "fetch('http"})
            EXPECT_EQ(r.body.find(outside), std::string::npos) << target << " loads " << outside;
    }
    HttpReply head = HttpExchange(m_server->Port(), "HEAD / HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
}

TEST_F(ServeTest, UnchangedAnswersRevalidateAndNewEventsArrive)
{
    const std::string target = std::string("/api/events?") + kDemoRange;
    HttpReply first = Get(target);
    std::string tag = first.Header("ETag");
    ASSERT_FALSE(tag.empty());
    HttpReply same = Get(target, "If-None-Match: " + tag + "\r\n");
    EXPECT_EQ(same.status, 304);
    EXPECT_TRUE(same.body.empty());

    uint32_t code = StationCode(10, 127, 0);
    ASSERT_EQ(Write(10, kDemoDay + 21 * 3600, 1, &code, m_dir.Path().c_str()), 1);
    HttpReply changed;
    for (int i = 0; i < 100 && (changed = Get(target, "If-None-Match: " + tag + "\r\n")).status == 304; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(changed.status, 200) << "the new event never arrived";
    EXPECT_NE(changed.Header("ETag"), tag);
    EXPECT_NE(changed.body.find("10#控制卡通信故障或未插卡"), std::string::npos);
}

// Names, sizes and modification times of a directory's files.
std::string Listing(const std::string& dir)
{
    std::string out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        struct stat st;
        stat(e.path().c_str(), &st);
        out += e.path().filename().string() + " " + std::to_string(st.st_size) + " " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "\n";
    }
    return out;
}

TEST_F(ServeTest, NothingIsWrittenToTheStore)
{
    std::string before = Listing(m_dir.Path());
    for (const char* target : {"/api/events?from=0", "/api/active", "/"}) EXPECT_EQ(Get(target).status, 200);
    EXPECT_EQ(Listing(m_dir.Path()), before);

    // A directory its writer has not begun yet lists nothing and gets no index.
    ChronikTestDir empty;
    ServeProcess server(empty.Path());
    ASSERT_TRUE(server.Started()) << server.Output();
    for (const char* target : {"/api/events?from=0", "/api/active"}) {
        HttpReply r = HttpGet(server.Port(), target);
        EXPECT_EQ(r.status, 200) << target;
        EXPECT_NE(r.body.find("\"events\": [\n]"), std::string::npos) << r.body;
    }
    EXPECT_EQ(Listing(empty.Path()), "");
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(ServeTest, ListensOnlyWhereTold)
{
    HttpReply elsewhere = HttpExchange(m_server->Port(), "GET / HTTP/1.1\r\n\r\n", 1000, "127.0.0.2");
    EXPECT_FALSE(elsewhere.connected) << "bound beyond 127.0.0.1";

    ServeProcess second(m_dir.Path(), "127.0.0.1:" + std::to_string(m_server->Port()));
    EXPECT_FALSE(second.Started());
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Output().find("cannot listen on 127.0.0.1 port"), std::string::npos) << second.Output();

    for (const char* bad : {"127.0.0.1", "nowhere:80", "127.0.0.1:65536", "127.0.0.1:-1", "127.0.0.1:8x",
                            "[::1:80", "::1:80", "1.2.3:80", ":80", "127.0.0.1:"}) {
        ServeProcess refused(m_dir.Path(), bad);
        EXPECT_FALSE(refused.Started()) << bad;
        EXPECT_EQ(refused.Wait(), 2) << bad;
    }
    ServeProcess missing(m_dir.File("none"));
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_NE(missing.Output().find("is not a directory"), std::string::npos);
}

}  // namespace
#endif
