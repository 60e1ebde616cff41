// The drivers' frame around every public operation of a ported codec.
#include "rastik/core/COperation.h"

#include "rastik/Messages.h"

COperation::COperation(CRastik& codec, Kind kind, int fileError) : m_codec(codec), m_kind(kind), m_fileError(fileError)
{
    if (m_codec.m_operationDepth++ == 0) m_codec.m_lastMessage = 0;
}

COperation::~COperation()
{
    --m_codec.m_operationDepth;
}

int COperation::Conclude(const CStatus& status)
{
    m_codec.m_lastMessage = status.Message();
    bool outermost = m_codec.m_operationDepth == 1;
    bool shown = m_kind == kWrite || m_codec.ShowMessages;
    if (outermost && shown && status.Message() != 0) {
        uint64_t first = 0, second = 0;
        m_codec.GetMessageFigures(status.Message(), &first, &second);
        ShowRastikMessage(status.Message(), first, second);
    }
    return status.Result();
}

CStatus COperation::Of(int result) const
{
    return result ? CStatus::Ok() : CStatus::Failed(m_codec.m_lastMessage);
}
