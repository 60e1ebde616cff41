// A writer's feed: the read of the source and the resampling that follows it.
#include "rastik/core/CReadFeed.h"

#include "rastik/CRastik.h"
#include "rastik/core/CResampler.h"

CReadFeed::CReadFeed(CRastik& source, Read read) : m_source(source), m_read(std::move(read)) {}

CReadFeed::CReadFeed(CRastik& source, Read read, CResampler& resampler)
    : m_source(source), m_read(std::move(read)), m_resampler(&resampler)
{
}

bool CReadFeed::Run(const Final& final)
{
    m_final = &final;
    bool following = !m_resampler || m_resampler->Follower();
    if (following) m_source.FollowRead(this);
    bool read = m_read();
    m_source.FollowRead(nullptr);
    m_final = nullptr;
    m_readFailed = !read;
    if (!m_resampler) return read;
    return m_resampler->Complete(read) != 0;
}

void CReadFeed::RowsFinal(uint32_t rows) noexcept
{
    if (!m_resampler) {
        (*m_final)(rows);
        return;
    }
    m_resampler->Follower()->RowsFinal(rows);
    (*m_final)(m_resampler->RowsMade());
}
