// Several processes on one directory: two writers and a reader at the same
// time, a writer killed at random moments, and the tool's commands.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "chronik/ChronikTestDir.h"

namespace {

constexpr uint32_t kT = 1700000000;
constexpr uint32_t kPerWriter = 400;

class ProcessTest : public ChronikTest {
protected:
    static uint32_t Code(uint32_t writer, uint32_t i) { return WriterCode(writer, i); }

    std::multiset<uint32_t> ReadAllCodes()
    {
        std::multiset<uint32_t> codes;
        const DiagRecordList* list = Read(0, 0xFFFFFFFF, m_dir.Path().c_str(), 0, 1);
        EXPECT_NE(list, nullptr);
        for (const DiagRecord& r : Records(list)) codes.insert(r.code);
        return codes;
    }
};

pid_t Spawn(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitCode(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(ProcessTest, TwoWritersAndAReaderShareADirectory)
{
    const std::string dir = m_dir.Path();
    std::vector<pid_t> writers;
    for (uint32_t w = 0; w < 2; ++w) {
        writers.push_back(Spawn([w, dir]() {
            for (uint32_t i = 0; i < kPerWriter; ++i) {
                uint32_t code = Code(w, i);
                Write(2 + w, kT + i, 1, &code, dir.c_str());
                usleep(2000);
            }
            return 0;
        }));
    }
    // The reader checks that no read ever lists an event twice and that what
    // it saw never shrinks.
    pid_t reader = Spawn([dir]() {
        SetReadPacing(0);
        size_t seen = 0;
        for (int round = 0; round < 200; ++round) {
            const DiagRecordList* list = Read(0, 0xFFFFFFFF, dir.c_str(), 0, 1);
            if (!list) {
                usleep(5000);
                continue;
            }
            std::set<uint32_t> codes;
            for (auto it = std::next(list->begin()); it != list->end(); ++it)
                if (!codes.insert(it->code).second) return 3;
            if (codes.size() < seen) return 4;
            seen = codes.size();
            if (seen == 2 * kPerWriter) return 0;
            usleep(5000);
        }
        return 0;
    });
    for (pid_t p : writers) EXPECT_EQ(ExitCode(p), 0);
    EXPECT_EQ(ExitCode(reader), 0);

    auto codes = ReadAllCodes();
    EXPECT_EQ(codes.size(), 2 * kPerWriter);
    for (uint32_t w = 0; w < 2; ++w)
        for (uint32_t i = 0; i < kPerWriter; ++i) EXPECT_EQ(codes.count(Code(w, i)), 1u) << w << " " << i;
}

#ifdef CHRONIK_TOOL_PATH
TEST_F(ProcessTest, KilledWriterLosesAtMostItsBatch)
{
    std::mt19937 rng(77);
    std::map<uint32_t, std::vector<uint32_t>> finished, killed;
    uint32_t next = 0;
    for (uint32_t batch = 0; batch < 120; ++batch) {
        uint32_t n = (batch * 37) % 90 + 1;
        std::vector<std::string> args = {CHRONIK_TOOL_PATH, "--span", "20", "write", "--time",
                                         std::to_string(kT + batch), m_dir.Path(), "2"};
        std::vector<uint32_t> codes;
        for (uint32_t k = 0; k < n; ++k, ++next) {
            codes.push_back(ModuleCode(2 + (next >> 12), (next >> 8) & 0xF, next & 0xFF, 32));
            args.push_back(std::to_string(codes.back()));
        }
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        bool kill = batch % 3 != 0;
        if (kill) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 4000));
            ::kill(pid, SIGKILL);
        }
        int rc = ExitCode(pid);
        ASSERT_NE(rc, 127) << "tool did not start";
        (rc == 0 ? finished : killed)[batch] = codes;
    }
    auto codes = ReadAllCodes();
    for (uint32_t c : codes) EXPECT_EQ(codes.count(c), 1u);
    for (auto& [batch, list] : finished)
        for (uint32_t c : list) EXPECT_EQ(codes.count(c), 1u) << "batch " << batch;
    // A killed batch is stored whole or not at all.
    size_t stored = 0;
    for (auto& [batch, list] : finished) stored += list.size();
    for (auto& [batch, list] : killed) {
        size_t present = 0;
        for (uint32_t c : list) present += codes.count(c);
        EXPECT_TRUE(present == 0 || present == list.size()) << "batch " << batch << ": " << present;
        stored += present;
    }
    EXPECT_EQ(codes.size(), stored);

    // The directory is still consistent: a further write reads back.
    uint32_t last = ModuleCode(300, 1, 1, 16);
    SetConfigData(30, 20);
    Write(2, kT + 500, 1, &last, m_dir.Path().c_str());
    EXPECT_EQ(ReadAllCodes().count(last), 1u);
    EXPECT_FALSE(finished.empty());
}

std::string RunTool(const std::string& args, int* rc, const char* program = CHRONIK_TOOL_PATH)
{
    std::string cmd = std::string(program) + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = p ? pclose(p) : -1;
    *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST_F(ProcessTest, ToolCommands)
{
    int rc = 0;
    std::string d = "'" + m_dir.Path() + "'";
    RunTool("--durable write --time 1700000000 " + d + " 2 0x21203", &rc);
    EXPECT_EQ(rc, 0);
    RunTool("write --time 1700000000 " + d + " 4 0x820640", &rc);
    EXPECT_EQ(rc, 0);
    RunTool("write --time 1700000060 " + d + " 2 2147619331", &rc);  // 0x80021203
    EXPECT_EQ(rc, 0);
    std::string table = RunTool("read " + d + " 1700000000 '2023-11-14 22:15:00'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(table.find("2023-11-14 22:13:20  2023-11-14 22:14:20  已清除    02#主控制卡总线0故障"),
              std::string::npos)
        << table;
    std::string json = RunTool("read --json --station 4 " + d + " 1700000000 1700000100", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(json.find("\"messageText\": \"04#控制站01#机笼03#I/O卡件模块故障\""), std::string::npos) << json;
    EXPECT_EQ(json.find("总线"), std::string::npos);
    EXPECT_EQ(RunTool("read " + d + " 1600000000 1600000100", &rc), "");
    EXPECT_EQ(rc, 1);
    std::string file = RunTool("file " + d + "/" + m_dir.DataFiles().at(0), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(file.find("模块"), std::string::npos);
    RunTool("rebuild " + d, &rc);
    EXPECT_EQ(rc, 0);
    RunTool("write " + d + " 1 5", &rc);
    EXPECT_EQ(rc, 2);
    RunTool("frobnicate", &rc);
    EXPECT_EQ(rc, 2);
    RunTool("rebuild " + d + "/none", &rc);
    EXPECT_EQ(rc, 1);
    // A new data file that cannot be made (here: beyond a 100 KiB file-size
    // limit) stores nothing, fails the command and says why.
    ChronikTestDir small;
    std::string s = "'" + small.Path() + "'";
    std::string why = RunTool("-c \"ulimit -f 100; exec " CHRONIK_TOOL_PATH " write " + s + " 2 0x21203 2>&1\"", &rc,
                              "/bin/sh");
    EXPECT_EQ(rc, 1);
    EXPECT_NE(why.find("batch not stored in " + small.Path() + ": File too large"), std::string::npos) << why;
    EXPECT_TRUE(small.DataFiles().empty());
    EXPECT_NE(RunTool("--help", &rc).find("chronik read"), std::string::npos);
    EXPECT_EQ(rc, 0);
}
#endif

}  // namespace
