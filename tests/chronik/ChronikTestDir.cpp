// Temporary directories and file helpers for the store's tests.
#include "chronik/ChronikTestDir.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/MessageSink.h"

std::vector<std::string> ChronikTest::s_messages;

ChronikTestDir::ChronikTestDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/chronik-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) m_path = buf.data();
}

ChronikTestDir::~ChronikTestDir()
{
    if (m_path.empty()) return;
    if (DIR* d = opendir(m_path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") unlink((m_path + "/" + n).c_str());
        }
        closedir(d);
    }
    rmdir(m_path.c_str());
}

std::vector<std::string> ChronikTestDir::DataFiles() const
{
    std::vector<std::string> names;
    if (DIR* d = opendir(m_path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.rfind("KORVAL", 0) == 0) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t WordAt(const std::vector<uint8_t>& b, size_t o)
{
    if (o + 4 > b.size()) return 0xDEADBEEF;
    return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 | uint32_t(b[o + 3]) << 24;
}

void SetWordAt(std::vector<uint8_t>& b, size_t o, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[o + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<DiagRecord> Records(const DiagRecordList* list)
{
    std::vector<DiagRecord> out;
    if (!list) return out;
    EXPECT_FALSE(list->empty());
    if (list->empty()) return out;
    const DiagRecord& head = list->front();
    EXPECT_EQ(head.code, 0u);
    EXPECT_EQ(head.time, 0u);
    EXPECT_TRUE(head.messageText.empty());
    out.assign(std::next(list->begin()), list->end());
    return out;
}

uint32_t StationCode(uint32_t a, uint32_t k, uint32_t f, bool cleared)
{
    return (cleared ? 0x80000000u : 0u) | (a << 16) | (k << 9) | (f << 1) | 1u;
}

uint32_t ModuleCode(uint32_t a, uint32_t r, uint32_t s, uint32_t f, bool cleared)
{
    return (cleared ? 0x80000000u : 0u) | (a << 21) | (r << 17) | (s << 9) | (f << 1);
}

uint32_t WriterCode(uint32_t writer, uint32_t i)
{
    return ModuleCode(2 + 2 * writer, i >> 8, i & 0xFF, 32);
}

void ChronikTest::SetUp()
{
    ASSERT_FALSE(m_dir.Path().empty());
    setenv("TZ", "UTC", 1);
    tzset();
    SetConfigData(30, 86400);
    SetReadPacing(0);
    s_messages.clear();
    SetMessageSink([](int, const char* text, void*) { s_messages.push_back(text); }, nullptr);
}

void ChronikTest::TearDown()
{
    SetMessageSink(nullptr, nullptr);
    SetConfigData(30, 86400);
    SetReadPacing(1);
    SetDurability(0);
}
