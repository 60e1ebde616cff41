// The message table: every user-visible text of the codecs, by id.
#include "rastik/Messages.h"

#include "platform/CFileException.h"
#include "platform/MessageSink.h"

namespace {

struct MessageEntry {
    int id;
    const char* text;
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
};

}  // namespace

extern "C" const char* GetRastikMessageText(int id)
{
    for (const MessageEntry& m : kMessages)
        if (m.id == id) return m.text;
    return nullptr;
}

int ShowRastikMessage(int id)
{
    const char* text = GetRastikMessageText(id);
    return ShowMessage(id, text ? text : "");
}

int ShowFileError(const CFileException& error)
{
    if (error.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
    return 0;
}
