// Message catalogue: every message row with its numbers, categories, notices,
// pairing keys, declined kinds and the time text.
#include <gtest/gtest.h>

#include "chronik/CDiagCatalogue.h"
#include "chronik/ChronikTestDir.h"

namespace {

class CatalogueTest : public ChronikTest {
};

struct Row {
    uint32_t code;
    const char* message;  // null: declined
};

DiagRecord Format(uint32_t code, bool suppress, bool* accepted, uint32_t time = 86400)
{
    DiagRecord r;
    r.code = code;
    r.time = time;
    *accepted = CDiagCatalogue::FormatRecord(r, suppress);
    return r;
}

void ExpectRows(const std::vector<Row>& rows)
{
    for (const Row& row : rows) {
        bool accepted = false;
        DiagRecord r = Format(row.code, false, &accepted);
        SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << row.code);
        if (!row.message) {
            EXPECT_FALSE(accepted);
            continue;
        }
        EXPECT_TRUE(accepted);
        EXPECT_EQ(r.messageText, row.message);
    }
}

uint32_t S(uint32_t a, uint32_t k, uint32_t f) { return StationCode(a, k, f); }

TEST_F(CatalogueTest, WorkedCodes)
{
    bool ok = false;
    DiagRecord r = Format(0x21203, true, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.messageText, "02#主控制卡总线0故障");
    EXPECT_EQ(r.categoryText, "系统");
    EXPECT_EQ(r.code, 0x21203u);
    EXPECT_EQ(r.isStationEvent, 1);
    EXPECT_EQ(r.cleared, 0);
    EXPECT_EQ(r.timeText, "1970-01-02 00:00:00");
    EXPECT_TRUE(r.clearTimeText.empty());

    r = Format(0x80021203, true, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.messageText, "02#主控制卡总线0故障");
    EXPECT_EQ(r.categoryText, "已清除");
    EXPECT_EQ(r.clearTimeText, "1970-01-02 00:00:00");
    EXPECT_TRUE(r.timeText.empty());
    EXPECT_EQ(r.code, 0x21203u);
    EXPECT_EQ(r.cleared, 1);

    r = Format(0x820640, true, &ok);
    EXPECT_EQ(r.messageText, "04#控制站01#机笼03#I/O卡件模块故障");
    EXPECT_EQ(r.categoryText, "模块");
    EXPECT_EQ(r.isStationEvent, 0);
    EXPECT_EQ(r.code, 0x820640u);

    r = Format(0x64621, true, &ok);
    EXPECT_EQ(r.messageText, "06#控制站03#数据转发卡I/O通信故障");
}

TEST_F(CatalogueTest, ModuleRows)
{
    ExpectRows({
        {ModuleCode(5, 2, 11, 255), "04#控制站02#机笼11#I/O卡件故障或未插卡"},
        {ModuleCode(4, 1, 3, 16 | 32), "04#控制站01#机笼03#I/O卡件变送器故障"},
        {ModuleCode(4, 1, 3, 32 | 64), "04#控制站01#机笼03#I/O卡件模块故障"},
        {ModuleCode(4, 15, 255, 64 | 128), "04#控制站15#机笼255#I/O卡件型号不匹配"},
        {ModuleCode(4, 1, 3, 15 | 128), nullptr},
        {ModuleCode(4, 1, 3, 0), nullptr},
    });
}

TEST_F(CatalogueTest, StationRows)
{
    ExpectRows({
        {S(3, 0, 0), "检测到03#控制卡当前为备用状态"},
        {S(3, 0, 31), "检测到03#控制卡当前为工作状态"},
        {S(3, 0, 7), nullptr},
        {S(3, 1, 3), "03#主控制卡组态错(内存RAM数据损坏,需下载组态)"},
        {S(3, 1, 8), "03#控制卡组态错(需下载组态)"},
        {S(3, 1, 2), "03#控制卡组态错(需下载组态)"},
        {S(3, 1, 32 | 128), "03#控制卡系统时钟出错"},
        {S(3, 1, 128), "03#控制卡堆栈出错"},
        {S(3, 1, 1), nullptr},
        {S(3, 2, 15), "02#控制站冗余主控卡协调同步失败"},
        {S(3, 2, 7), nullptr},
        {S(3, 3, 0), "检测到03#控制卡上次以冷模式启动"},
        {S(3, 3, 255), "检测到03#控制卡上次以热模式启动"},
        {S(3, 3, 1), nullptr},
        {S(3, 4, 255), "03#主控制卡主CPU与XA-2握手失败"},
        {S(3, 4, 1 | 2), "03#控制卡TLINK端口0自检故障"},
        {S(3, 4, 2), "03#控制卡TLINK端口1自检故障"},
        {S(3, 4, 16), "03#控制卡与所有数据转发卡通信故障"},
        {S(3, 4, 4), nullptr},
        {S(3, 6, 4), "03#主控制卡上电或复位内存数据自检出错,申请组态"},
        {S(3, 6, 0), nullptr},
        {S(3, 7, 128 | 64), "03#控制卡用户程序区错误(Flash内存)"},
        {S(3, 7, 64 | 1), nullptr},
        {S(3, 7, 5), "02#控制站工作/备用卡件之间组态不一致"},
        {S(3, 7, 8), nullptr},
        {S(3, 8, 1), "03#控制卡用户堆栈(USP)溢出错"},
        {S(3, 8, 2), "03#控制卡QTL语言的程序运行时间溢出"},
        {S(3, 8, 4), "03#控制卡QTL语言的用户程序被传送下装QTL程序过程终止"},
        {S(3, 8, 8), "03#主控制卡程序运行异常"},
        {S(3, 8, 32), "03#主控制卡程序代码自检出错,并且被系统监控软件强制停止运行"},
        {S(3, 8, 16), nullptr},
        {S(3, 9, 1), "03#主控制卡总线0故障"},
        {S(3, 9, 2), "03#主控制卡总线1故障"},
        {S(3, 9, 4), "03#控制器检测到控制网内网络连接错位"},
        {S(3, 9, 8), nullptr},
        {S(3, 11, 9), "03#主控制卡ROM自检出错"},
        {S(3, 13, 9), "时间溢出,03#主机在一个周期内没有完成所有工作"},
        {S(3, 14, 9), "03#主控制卡网络地址拨号出错"},
        {S(3, 14, 0), nullptr},
        {S(3, 15, 1), "1#5V电源故障"},
        {S(3, 15, 2), "2#5V电源故障"},
        {S(3, 15, 4), "1#24V电源故障"},
        {S(3, 15, 8), "2#24V电源故障"},
        {S(3, 15, 16), "1#220VAC电源故障"},
        {S(3, 15, 32), "2#220VAC电源故障"},
        {S(3, 15, 64), nullptr},
        {S(3, 25, 1), "02#控制站1#Cable与2#网错连"},
        {S(3, 25, 2), "02#控制站2#Cable与1#网错连"},
        {S(3, 25, 4), nullptr},
        {S(3, 27, 2), "03#控制卡Tesslang语言的程序运行时间溢出"},
        {S(3, 27, 8), "03#主控制卡Tesslang程序运行异常"},
        {S(3, 27, 32), "03#主控制卡Tesslang程序代码自检出错"},
        {S(3, 27, 1), nullptr},
        {S(3, 127, 0), "03#控制卡通信故障或未插卡"},
        {S(300, 127, 0), "300#控制卡通信故障或未插卡"},
    });
}

TEST_F(CatalogueTest, ForwardingCardRows)
{
    ExpectRows({
        {S(9, 34, 0xFF), "08#控制站00#数据转发卡故障或未插卡"},
        {S(9, 34, 1 | 2), "08#控制站00#数据转发卡I/O通信故障"},
        {S(9, 34, 2 | 4), "08#控制站00#数据转发卡TLINK端口0故障"},
        {S(9, 34, 4), "08#控制站00#数据转发卡TLINK端口1故障"},
        {S(9, 41, 0xF0), "08#控制站15#数据转发卡故障或未插卡"},
        {S(9, 41, 16 | 32), "08#控制站15#数据转发卡I/O通信故障"},
        {S(9, 40, 32 | 64), "08#控制站13#数据转发卡TLINK端口0故障"},
        {S(9, 40, 64 | 8), "08#控制站13#数据转发卡TLINK端口1故障"},
        {S(9, 40, 8 | 128), nullptr},
    });
}

TEST_F(CatalogueTest, DeclinedKinds)
{
    std::vector<Row> rows;
    for (uint32_t k : {5u, 10u, 12u, 16u, 20u, 24u, 26u, 28u, 33u, 42u, 100u, 126u})
        for (uint32_t f : {0u, 1u, 255u}) rows.push_back({S(2, k, f), nullptr});
    ExpectRows(rows);
}

TEST_F(CatalogueTest, PairingKeys)
{
    bool ok = false;
    uint32_t cleared = 0x80000000u;
    // Kind 7 drops flag bits 0 to 2 from the key, so differing low flags pair.
    EXPECT_EQ(Format(S(3, 7, 5), false, &ok).code, S(3, 7, 0) & 0x7FFFFFF1u);
    EXPECT_EQ(Format(S(3, 7, 5), false, &ok).code, Format(cleared | S(3, 7, 2), false, &ok).code);
    EXPECT_EQ(Format(S(3, 11, 3), false, &ok).code, S(3, 11, 3) & 0x7FFFFFFBu);
    EXPECT_EQ(Format(S(3, 13, 3), false, &ok).code, S(3, 13, 3) & 0x7FFFFFFDu);
    EXPECT_EQ(Format(S(3, 14, 3), false, &ok).code, S(3, 14, 3) & 0x7FFFFFFEu);
    EXPECT_EQ(Format(S(3, 14, 3), false, &ok).code & 1u, 0u);
    EXPECT_EQ(Format(cleared | ModuleCode(4, 1, 3, 32), false, &ok).code, ModuleCode(4, 1, 3, 32));
    EXPECT_EQ(Format(cleared | S(3, 9, 1), false, &ok).code, S(3, 9, 1));
}

TEST_F(CatalogueTest, NoticesAndServerCodes)
{
    bool ok = false;
    DiagRecord r = Format(S(3, 0, 0), false, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.categoryText, "提示");
    r = Format(0x80000000u | S(3, 3, 255), false, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.categoryText, "提示");
    EXPECT_EQ(r.cleared, 1);
    Format(S(3, 0, 0), true, &ok);
    EXPECT_FALSE(ok);
    Format(S(3, 3, 0), true, &ok);
    EXPECT_FALSE(ok);

    for (bool suppress : {false, true}) {
        r = Format(0, suppress, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(r.messageText, "诊断服务器启动");
        EXPECT_EQ(r.categoryText, "提示");
        EXPECT_EQ(r.code, 0u);
        r = Format(0xFFFFFFFFu, suppress, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(r.messageText, "诊断服务器退出");
        EXPECT_EQ(r.code, 0xFFFFFFFFu);
        EXPECT_EQ(r.cleared, 0);
        EXPECT_EQ(r.timeText, "1970-01-02 00:00:00");
    }
}

TEST_F(CatalogueTest, TimeTextInLocalTime)
{
    EXPECT_EQ(CDiagCatalogue::FormatTime(1700000000), "2023-11-14 22:13:20");
    setenv("TZ", "CST-8", 1);  // UTC+8 without the time-zone database
    tzset();
    EXPECT_EQ(CDiagCatalogue::FormatTime(1700000000), "2023-11-15 06:13:20");
    EXPECT_EQ(CDiagCatalogue::FormatTime(0xFFFFFFFFu), "2106-02-07 14:28:15");
}

TEST_F(CatalogueTest, GbkBytes)
{
    DiagRecord r;
    r.messageText = "02#主控制卡总线0故障";
    r.categoryText = "已清除";
    r.timeText = "2024-01-01 00:00:00";
    EXPECT_EQ(r.MessageTextGbk().substr(0, 9), std::string("02#\xD6\xF7\xBF\xD8\xD6\xC6"));
    EXPECT_EQ(r.CategoryTextGbk(), std::string("\xD2\xD1\xC7\xE5\xB3\xFD"));
    EXPECT_EQ(r.TimeTextGbk(), r.timeText);
    EXPECT_EQ(DiagRecord::ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");
}

}  // namespace
