// Lending one worker pool to the nested steps of a conversion.
#include "rastik/support/CPoolScope.h"

namespace {
thread_local CWorkerPool* t_pool = nullptr;
thread_local unsigned t_depth = 0;
}  // namespace

CPoolScope::CPoolScope() : m_outer(t_pool)
{
    ++t_depth;
    if (CWorkerPool::OnWorker()) return;
    if (t_depth == 1) {
        uint32_t threads = RastikThreads();
        if (threads > 1) {
            m_own = std::make_unique<CWorkerPool>(threads);
            if (m_own->Threads() < 2) m_own.reset();
        }
        t_pool = m_own.get();
    }
    m_pool = t_pool;
}

CPoolScope::~CPoolScope()
{
    --t_depth;
    if (m_own) t_pool = m_outer;
}

CWorkerPool* CPoolScope::Lent()
{
    return CWorkerPool::OnWorker() ? nullptr : t_pool;
}
