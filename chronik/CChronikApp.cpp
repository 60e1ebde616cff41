// The process-wide object of the store, made when the library is loaded.
#include "chronik/CChronikApp.h"

#include <memory>
#include <mutex>

namespace {
constexpr size_t kClearedBuckets = 1201;
}

CChronikApp::CChronikApp()
    : m_clearedByCode(kClearedBuckets)
{
    m_haveKey = pthread_key_create(&m_threadKey, &CChronikApp::ReleaseThread) == 0;
}

CChronikApp::~CChronikApp()
{
    // Threads still running keep no list past this: the key goes first, so
    // the thread library calls no release into an unloaded library.
    if (m_haveKey) pthread_key_delete(m_threadKey);
    for (DiagRecordList* list : m_threadResults) delete list;
}

CChronikApp& CChronikApp::Get()
{
    static CChronikApp theApp;
    return theApp;
}

void CChronikApp::ReleaseThread(void* results)
{
    CChronikApp& app = Get();
    std::lock_guard<CCallLock> lock(app.m_lock);
    auto* list = static_cast<DiagRecordList*>(results);
    if (app.m_threadResults.erase(list)) delete list;
}

DiagRecordList& CChronikApp::Results()
{
    if (m_haveKey)
        if (void* mine = pthread_getspecific(m_threadKey)) return *static_cast<DiagRecordList*>(mine);
    auto list = std::make_unique<DiagRecordList>();
    if (m_haveKey && pthread_setspecific(m_threadKey, list.get()) == 0) {
        m_threadResults.insert(list.get());
        return *list.release();
    }
    // Without a thread key every thread shares one list, as a single-threaded
    // host always does.
    return m_sharedResults;
}

size_t CChronikApp::ThreadListCount()
{
    std::lock_guard<CCallLock> lock(m_lock);
    return m_threadResults.size();
}

void CChronikApp::ResetReadState()
{
    DiagRecordList& results = Results();
    if (results.empty()) results.emplace_back();
    while (results.size() > 1) results.pop_back();
    m_rawEvents.clear();
    m_clearedByCode.clear();
}
