// The message table: every user-visible text of the codecs, by id.
#include "rastik/Messages.h"

#include "platform/CFileException.h"
#include <cstdio>

#include "platform/MessageSink.h"
#include "rastik/General.h"

namespace {

struct MessageEntry {
    int id;
    const char* text;
    const char* figured = nullptr;  // the text with its figures (%llu places)
};

const MessageEntry kMessages[] = {
    {kMsgBadHeader, "文件头数据有错或本系统暂时不支持该文件格式，不能读取。"},
    {kMsgCompressedBmp, "本系统不支持压缩格式的BMP文件！"},
    {kMsgBmpChannels, "不能以灰度，CMYK或多个通道方式存BMP文件!"},
    {kMsgResolutionUnit, "分辨率类型不对，不能以其方式存文件!"},
    {kMsgNoBuffer, "分配缓冲区失败!"},
    {kMsgBadFileData, "文件数据格式不对，不能打开该文件！"},
    {kMsgCannotCreate, "不能创建此文件!"},
    {kMsgImageType, "图象类型不符合，不能保存该文件！"},
    {kMsgOnly8Bit, "目前只支持位数为8的图象"},
    {kMsgDiskFull, "磁盘空间已满,无法保存!"},
    {kMsgUnsupported, "不支持这种文件格式！"},
    {kMsgTooManyPixels, "图象的像素数超过上限，不能读取。", "图象的像素数超过上限 %llu，不能读取。"},
    {kMsgNoTempSpace, "临时目录的磁盘空间不足，不能转换。",
     "临时目录的磁盘空间不足：需要 %llu 字节，只有 %llu 字节可用，不能转换。"},
    {kMsgDataEnded, "图象数据不完整，不能转换。", "图象数据在第 %llu 行中断（共 %llu 行），不能转换。"},
    {kMsgNoPlaneSpace, "内存和临时目录都放不下图象通道，不能转换。",
     "内存上限 %llu 字节和临时目录的 %llu 字节可用空间都放不下图象通道，不能转换。"},
    {kMsgNoTargetSpace, "目标目录的磁盘空间不足，不能转换。",
     "目标目录的磁盘空间不足：需要 %llu 字节，只有 %llu 字节可用，不能转换。"},
    {kMsgNoSuchPage, "文件中没有要读的这一页。", "文件只有 %llu 页，没有第 %llu 页（从 0 数起）。"},
};

const MessageEntry* EntryOf(int id)
{
    for (const MessageEntry& m : kMessages)
        if (m.id == id) return &m;
    return nullptr;
}

}  // namespace

extern "C" const char* GetRastikMessageText(int id)
{
    const MessageEntry* m = EntryOf(id);
    return m ? m->text : nullptr;
}

std::string RastikMessageText(int id, uint64_t first, uint64_t second)
{
    const MessageEntry* m = EntryOf(id);
    if (!m) return "";
    if (!m->figured) return m->text;
    char text[256];
    snprintf(text, sizeof text, m->figured, static_cast<unsigned long long>(first),
             static_cast<unsigned long long>(second));
    return text;
}

int ShowRastikMessage(int id, uint64_t first, uint64_t second)
{
    return ShowMessage(id, RastikMessageText(id, first, second).c_str());
}

int ShowRastikMessage(int id)
{
    return ShowRastikMessage(id, id == kMsgTooManyPixels ? GetMaxPixels() : 0, 0);
}

int ShowFileError(const CFileException& error)
{
    if (error.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
    return 0;
}
