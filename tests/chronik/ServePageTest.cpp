// The event page in headless Chromium: the demo's day with its clear times,
// the active faults on top, the timeline's bars, a Write that appears
// without a reload, the CSV export, and a screenshot kept in the build tree.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "chronik/ChronikTestDir.h"
#include "chronik/HeadlessBrowser.h"
#include "chronik/ServeTestSupport.h"

#ifdef CHRONIK_TOOL_PATH
namespace {

// What the page shows, one line per item: the order of its sections, then
// "active|..." and "event|..." rows (cells joined by '|'), then
// "bar|station|time|class" for the timeline's bars.
const char kSummary[] = R"js((() => {
  const top = (id) => document.getElementById(id).getBoundingClientRect().top;
  const rows = (id, tag) => [...document.querySelectorAll('#' + id + ' tbody tr')]
    .map((r) => tag + '|' + [...r.cells].map((c) => c.textContent).join('|'));
  const bars = [...document.querySelectorAll('#timeline-svg rect.bar')]
    .map((b) => ['bar', b.dataset.station, b.dataset.time, b.getAttribute('class')].join('|'));
  const order = ['active', 'timeline', 'events'].sort((a, b) => top(a) - top(b)).join(',');
  return ['order|' + order, ...rows('active', 'active'), ...rows('events', 'event'), ...bars].join('\n');
})())js";

std::vector<std::string> Lines(const std::string& text, const std::string& tag)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, tag.size() + 1, tag + "|") == 0) out.push_back(line.substr(tag.size() + 1));
    return out;
}

// The "已持续..." of an active fault grows with the clock: only its start is kept.
std::string Steady(std::string row)
{
    size_t at = row.find("|已持续");
    return at == std::string::npos ? row : row.substr(0, at) + "|已持续" + row.substr(row.find('|', at + 1));
}

// A directory for the browser's own files, removed with everything in it.
struct ScratchDir {
    std::string path;
    ScratchDir()
    {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/chronik-browser-XXXXXX";
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

class ServePageTest : public ChronikTest {};

TEST_F(ServePageTest, ShowsTheDemoDayAndNewEventsWithoutAReload)
{
    if (!HeadlessBrowser::Installed())
        GTEST_SKIP() << "chromium is not installed at " << HeadlessBrowser::kPath << ": the page is not checked";
    WriteDemoEvents(m_dir.Path());
    ServeProcess server(m_dir.Path());
    if (server.Unavailable()) GTEST_SKIP() << "this chronik has no serve command (built without cpp-httplib)";
    ASSERT_TRUE(server.Started()) << server.Output();
    ScratchDir scratch;
    ASSERT_FALSE(scratch.path.empty());
    std::string problem;
    {
        HeadlessBrowser browser(scratch.path);
        ASSERT_TRUE(browser.Start(1280, 1300, problem)) << problem;
        std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/?" + kDemoRange;
        ASSERT_TRUE(browser.Navigate(url)) << browser.Log();
        ASSERT_TRUE(browser.WaitFor("document.querySelectorAll('#events tbody tr').length === 14 ? 'yes' : 'no'", 20000))
            << browser.Log();

        std::string page = browser.Evaluate(kSummary);
        EXPECT_EQ(Lines(page, "order"), std::vector<std::string>{"active,timeline,events"});
        std::vector<std::string> active;
        for (const std::string& row : Lines(page, "active")) active.push_back(row.substr(0, row.rfind('|')));
        EXPECT_EQ(active, (std::vector<std::string>{
                              "2024-03-01 20:00:00|08#控制站|系统|08#控制卡通信故障或未插卡",
                              "2024-03-01 11:00:00|06#控制站|系统|06#控制站03#数据转发卡I/O通信故障",
                              "2024-03-01 08:15:00|04#控制站|模块|04#控制站01#机笼04#I/O卡件变送器故障",
                          }));
        std::vector<std::string> events;
        for (const std::string& row : Lines(page, "event")) events.push_back(Steady(row));
        EXPECT_EQ(events, (std::vector<std::string>{
                              "2024-03-01 23:59:59|||提示||诊断服务器退出",
                              "2024-03-01 22:10:00|2024-03-01 22:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 20:00:00|未清除|已持续|系统|08#控制站|08#控制卡通信故障或未插卡",
                              "2024-03-01 18:10:00|2024-03-01 18:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 16:45:00|2024-03-01 17:02:00|17分0秒|已清除|04#控制站|04#控制站工作/备用卡件之间组态不一致",
                              "2024-03-01 14:10:00|2024-03-01 14:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 12:30:00|2024-03-01 12:31:10|1分10秒|已清除|02#控制站|1#24V电源故障",
                              "2024-03-01 11:00:00|未清除|已持续|系统|06#控制站|06#控制站03#数据转发卡I/O通信故障",
                              "2024-03-01 10:10:00|2024-03-01 10:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 08:15:00|未清除|已持续|模块|04#控制站|04#控制站01#机笼04#I/O卡件变送器故障",
                              "2024-03-01 08:15:00|2024-03-01 09:05:00|50分0秒|已清除|04#控制站|04#控制站01#机笼03#I/O卡件模块故障",
                              "2024-03-01 06:10:00|2024-03-01 06:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 02:10:00|2024-03-01 02:25:30|15分30秒|已清除|02#控制站|02#主控制卡总线0故障",
                              "2024-03-01 00:00:01|||提示||诊断服务器启动",
                          }));
        // One bar per fault on its station's row: open ones for the three still active.
        std::vector<std::string> bars = Lines(page, "bar");
        EXPECT_EQ(bars.size(), 12u);
        for (const char* bar : {"8|1709323200|bar cat-system open", "6|1709290800|bar cat-system open",
                                "4|1709280900|bar cat-module open", "2|1709259000|bar cat-system cleared",
                                "4|1709280900|bar cat-module cleared", "4|1709311500|bar cat-system cleared"})
            EXPECT_NE(std::find(bars.begin(), bars.end(), bar), bars.end()) << bar << "\n" << page;

        // A Write while the page is open shows without a reload.
        ASSERT_EQ(browser.Evaluate("window.mark = 'same page'; window.mark"), "same page");
        uint32_t code = StationCode(10, 127, 0);
        ASSERT_EQ(Write(10, kDemoDay + 21 * 3600, 1, &code, m_dir.Path().c_str()), 1);
        auto written = std::chrono::steady_clock::now();
        const char* arrived =
            "[...document.querySelectorAll('#active td.message, #events td.message')]"
            ".filter((c) => c.textContent === '10#控制卡通信故障或未插卡').length === 2 ? 'yes' : 'no'";
        ASSERT_TRUE(browser.WaitFor(arrived, 15000)) << browser.Evaluate(kSummary);
        printf("the new event was on the page %lld ms after its Write\n",
               static_cast<long long>((std::chrono::steady_clock::now() - written) / std::chrono::milliseconds(1)));
        EXPECT_EQ(browser.Evaluate("window.mark"), "same page") << "the page was reloaded";
        EXPECT_EQ(Lines(browser.Evaluate(kSummary), "bar").size(), 13u);

        std::string csv = browser.Evaluate("window.diagPage.csv()");
        EXPECT_EQ(csv.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark for spreadsheets";
        EXPECT_NE(csv.find("\"发生时间\",\"清除时间\",\"持续时间\",\"类别\",\"控制站\",\"信息\"\r\n"), std::string::npos);
        EXPECT_NE(csv.find("\"2024-03-01 02:10:00\",\"2024-03-01 02:25:30\",\"15分30秒\",\"已清除\",\"02#控制站\","
                           "\"02#主控制卡总线0故障\"\r\n"),
                  std::string::npos)
            << csv;
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 16);

        std::filesystem::path artifacts = std::filesystem::path(CHRONIK_TOOL_PATH).parent_path() / "test-artifacts";
        std::filesystem::create_directories(artifacts);
        std::string shot = (artifacts / "chronik-serve-page.png").string();
        EXPECT_TRUE(browser.Screenshot(shot)) << browser.Log();
        printf("screenshot: %s\n", shot.c_str());

        // The station filter narrows the list in place.
        browser.Evaluate("(() => { const s = document.getElementById('station'); s.value = '4';"
                         "s.dispatchEvent(new Event('change')); return 'changed'; })()");
        EXPECT_TRUE(browser.WaitFor("[...document.querySelectorAll('#events td.station')].map((c) => c.textContent)"
                                    ".join() === '04#控制站,04#控制站,04#控制站' ? 'yes' : 'no'",
                                    10000))
            << browser.Evaluate(kSummary);
        EXPECT_NE(browser.Evaluate("location.search").find("station=4"), std::string::npos)
            << "the filter is not in the page's address";
    }
    EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
#endif
