// Message, category and time texts of diagnostic events, and their pairing
// keys; the code layout is stated in CDiagCatalogue.h.
#include "chronik/CDiagCatalogue.h"

#include <ctime>
#include <initializer_list>

namespace {

const char kCategoryStation[] = "系统";
const char kCategoryModule[] = "模块";
const char kCategoryCleared[] = "已清除";
const char kCategoryNotice[] = "提示";

constexpr uint32_t kClearedBit = 0x80000000u;
constexpr uint32_t kKeyMask = 0x7FFFFFFFu;

// Decimal of at least two digits, as "%02d" gives it.
void AppendNumber(std::string& out, int value)
{
    char digits[12];
    int n = 0;
    unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (n < 2) digits[n++] = '0';
    if (value < 0) out.push_back('-');
    while (n) out.push_back(digits[--n]);
}

// The pattern with each "%02d" replaced by the next number, in order.
std::string Format(const char* pattern, std::initializer_list<int> numbers)
{
    std::string out;
    out.reserve(96);
    auto next = numbers.begin();
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == '0' && p[2] == '2' && p[3] == 'd' && next != numbers.end()) {
            AppendNumber(out, *next++);
            p += 3;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

// The message, formatted only when it is wanted (out not null).
template <typename... Numbers>
void Put(std::string* out, const char* pattern, Numbers... numbers)
{
    if (out) *out = Format(pattern, {static_cast<int>(numbers)...});
}

// The station events by kind K: within a kind the rows are tried in order and
// the first whose condition on the flag byte F holds gives the message; a
// row without a message, or no row, declines the event. The key is the code
// without its cleared bit, narrowed further where a row says so.
enum Number : uint8_t { kCard, kStation };  // A, or A with bit 0 cleared
struct StationRow {
    uint8_t kind;
    bool any;             // condition: F & mask is not 0 (else F & mask equals value)
    uint8_t mask;
    uint8_t value;
    const char* pattern;  // null: declined
    Number number;        // texts without "%02d" take none
    uint32_t keyMask = kKeyMask;
};

const StationRow kStationRows[] = {
    {0, false, 0xFF, 0, "检测到%02d#控制卡当前为备用状态", kCard},
    {0, false, 15, 15, "检测到%02d#控制卡当前为工作状态", kCard},
    {1, false, 3, 3, "%02d#主控制卡组态错(内存RAM数据损坏,需下载组态)", kCard},
    {1, true, 8 | 2, 0, "%02d#控制卡组态错(需下载组态)", kCard},
    {1, true, 32, 0, "%02d#控制卡系统时钟出错", kCard},
    {1, true, 128, 0, "%02d#控制卡堆栈出错", kCard},
    {2, false, 15, 15, "%02d#控制站冗余主控卡协调同步失败", kStation},
    {3, false, 0xFF, 0, "检测到%02d#控制卡上次以冷模式启动", kCard},
    {3, false, 0xFF, 255, "检测到%02d#控制卡上次以热模式启动", kCard},
    {4, false, 0xFF, 255, "%02d#主控制卡主CPU与XA-2握手失败", kCard},
    {4, true, 1, 0, "%02d#控制卡TLINK端口0自检故障", kCard},
    {4, true, 2, 0, "%02d#控制卡TLINK端口1自检故障", kCard},
    {4, true, 16, 0, "%02d#控制卡与所有数据转发卡通信故障", kCard},
    {6, true, 0xFF, 0, "%02d#主控制卡上电或复位内存数据自检出错,申请组态", kCard},
    {7, true, 128, 0, "%02d#控制卡用户程序区错误(Flash内存)", kCard},
    {7, true, 64, 0, nullptr, kCard},
    {7, true, 7, 0, "%02d#控制站工作/备用卡件之间组态不一致", kStation, 0x7FFFFFF1u},
    {8, true, 1, 0, "%02d#控制卡用户堆栈(USP)溢出错", kCard},
    {8, true, 2, 0, "%02d#控制卡QTL语言的程序运行时间溢出", kCard},
    {8, true, 4, 0, "%02d#控制卡QTL语言的用户程序被传送下装QTL程序过程终止", kCard},
    {8, true, 8, 0, "%02d#主控制卡程序运行异常", kCard},
    {8, true, 32, 0, "%02d#主控制卡程序代码自检出错,并且被系统监控软件强制停止运行", kCard},
    {9, true, 1, 0, "%02d#主控制卡总线0故障", kCard},
    {9, true, 2, 0, "%02d#主控制卡总线1故障", kCard},
    {9, true, 4, 0, "%02d#控制器检测到控制网内网络连接错位", kCard},
    {11, true, 0xFF, 0, "%02d#主控制卡ROM自检出错", kCard, 0x7FFFFFFBu},
    {13, true, 0xFF, 0, "时间溢出,%02d#主机在一个周期内没有完成所有工作", kCard, 0x7FFFFFFDu},
    {14, true, 0xFF, 0, "%02d#主控制卡网络地址拨号出错", kCard, 0x7FFFFFFEu},
    {15, true, 1, 0, "1#5V电源故障", kCard},
    {15, true, 2, 0, "2#5V电源故障", kCard},
    {15, true, 4, 0, "1#24V电源故障", kCard},
    {15, true, 8, 0, "2#24V电源故障", kCard},
    {15, true, 16, 0, "1#220VAC电源故障", kCard},
    {15, true, 32, 0, "2#220VAC电源故障", kCard},
    {25, true, 1, 0, "%02d#控制站1#Cable与2#网错连", kStation},
    {25, true, 2, 0, "%02d#控制站2#Cable与1#网错连", kStation},
    {27, true, 2, 0, "%02d#控制卡Tesslang语言的程序运行时间溢出", kCard},
    {27, true, 8, 0, "%02d#主控制卡Tesslang程序运行异常", kCard},
    {27, true, 32, 0, "%02d#主控制卡Tesslang程序代码自检出错", kCard},
    {127, false, 0, 0, "%02d#控制卡通信故障或未插卡", kCard},
};

}  // namespace

std::string CDiagCatalogue::FormatTime(uint32_t time)
{
    time_t t = static_cast<time_t>(time);
    struct tm local;
    if (!localtime_r(&t, &local)) return std::string();
    // "%4d-%02d-%02d %02d:%02d:%02d"
    std::string out;
    out.reserve(20);
    int year = local.tm_year + 1900;
    if (year >= 0 && year < 1000) out.append(year < 10 ? "   " : year < 100 ? "  " : " ");
    AppendNumber(out, year);
    for (int part : {local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec}) {
        out.push_back(out.size() == 4 || out.size() == 7 ? '-' : out.size() == 10 ? ' ' : ':');
        AppendNumber(out, part);
    }
    return out;
}

bool CDiagCatalogue::FormatRecord(DiagRecord& record, bool suppressNotices)
{
    std::string timeText = FormatTime(record.time);
    return Describe(record, suppressNotices, true, &timeText);
}

bool CDiagCatalogue::Describe(DiagRecord& record, bool suppressNotices, bool message, const std::string* timeText)
{
    uint32_t code = record.code;
    std::string* messageText = message ? &record.messageText : nullptr;
    if (code == kServerStarted || code == kServerStopped) {
        if (timeText) record.timeText = *timeText;
        Put(messageText, code == kServerStarted ? "诊断服务器启动" : "诊断服务器退出");
        record.categoryText = kCategoryNotice;
        return true;
    }

    record.isStationEvent = static_cast<int32_t>(code & 1);
    record.cleared = (code & kClearedBit) ? 1 : 0;
    if (record.cleared) {
        if (timeText) record.clearTimeText = *timeText;
        record.categoryText = kCategoryCleared;
    } else {
        if (timeText) record.timeText = *timeText;
        record.categoryText = record.isStationEvent ? kCategoryStation : kCategoryModule;
    }
    record.code = code & kKeyMask;

    if (!record.isStationEvent) return FormatModuleEvent(record, messageText);
    bool notice = false;
    if (!FormatStationEvent(record, messageText, notice)) return false;
    if (notice) {
        if (suppressNotices) return false;
        record.categoryText = kCategoryNotice;
    }
    return true;
}

bool CDiagCatalogue::FormatModuleEvent(DiagRecord& record, std::string* message)
{
    uint32_t code = record.code;
    uint32_t f = (code >> 1) & 0xFF;
    uint32_t s = (code >> 9) & 0xFF;
    uint32_t r = (code >> 17) & 0xF;
    int station = static_cast<int>(((code >> 21) & 0x1FF) & ~1u);
    const char* pattern = nullptr;
    if (f == 255) pattern = "%02d#控制站%02d#机笼%02d#I/O卡件故障或未插卡";
    else if (f & 16) pattern = "%02d#控制站%02d#机笼%02d#I/O卡件变送器故障";
    else if (f & 32) pattern = "%02d#控制站%02d#机笼%02d#I/O卡件模块故障";
    else if (f & 64) pattern = "%02d#控制站%02d#机笼%02d#I/O卡件型号不匹配";
    if (!pattern) return false;
    Put(message, pattern, station, r, s);
    return true;
}

// Kinds 34 to 41: two data-forwarding cards per kind, the low half of F for
// card 2 * (K - 34), the high half for the card after it.
bool CDiagCatalogue::FormatForwardingCards(std::string* message, uint32_t a, uint32_t k, uint32_t f)
{
    int station = static_cast<int>(a & ~1u);
    int card = static_cast<int>(2 * (k - 34));
    const char* failed = "%02d#控制站%02d#数据转发卡故障或未插卡";
    const char* io = "%02d#控制站%02d#数据转发卡I/O通信故障";
    const char* port0 = "%02d#控制站%02d#数据转发卡TLINK端口0故障";
    const char* port1 = "%02d#控制站%02d#数据转发卡TLINK端口1故障";
    const char* pattern = nullptr;
    if ((f & 15) == 15) pattern = failed;
    else if (f & 1) pattern = io;
    else if (f & 2) pattern = port0;
    else if (f & 4) pattern = port1;
    else {
        card += 1;
        if ((f & 240) == 240) pattern = failed;
        else if (f & 16) pattern = io;
        else if (f & 32) pattern = port0;
        else if (f & 64) pattern = port1;
    }
    if (!pattern) return false;
    Put(message, pattern, station, card);
    return true;
}

bool CDiagCatalogue::FormatStationEvent(DiagRecord& record, std::string* message, bool& notice)
{
    uint32_t f = (record.code >> 1) & 0xFF;
    uint32_t k = (record.code >> 9) & 0x7F;
    uint32_t a = (record.code >> 16) & 0x1FF;
    if (k >= 34 && k <= 41) return FormatForwardingCards(message, a, k, f);
    notice = k == 0 || k == 3;
    for (const StationRow& row : kStationRows) {
        if (row.kind != k) continue;
        bool holds = row.any ? (f & row.mask) != 0 : (f & row.mask) == row.value;
        if (!holds) continue;
        if (!row.pattern) return false;
        Put(message, row.pattern, row.number == kStation ? a & ~1u : a);
        record.code &= row.keyMask;
        return true;
    }
    return false;
}
