// The worker pool of the conversion running on the calling thread. The
// outermost scope of a thread makes a pool of RastikThreads() threads for its
// lifetime (none when that is 1) and lends it to the scopes nested inside
// it, so one conversion keeps one pool from its first row to its last and no
// worker outlives the call that made it. On a worker thread no pool is lent:
// work handed out from there runs on that thread.
#pragma once

#include <memory>

#include "rastik/support/CWorkerPool.h"
#include "rastik/support/NonCopyable.h"

class CPoolScope : private NonCopyable {
public:
    CPoolScope();
    ~CPoolScope();

    // The pool to hand work to, or null to do it on this thread.
    CWorkerPool* Pool() const { return m_pool; }
    // The pool a scope of this thread lends now, without making one: for
    // steps a host may also call on their own, many times over.
    static CWorkerPool* Lent();

private:
    std::unique_ptr<CWorkerPool> m_own;
    CWorkerPool* m_pool = nullptr;
    CWorkerPool* m_outer = nullptr;
};
