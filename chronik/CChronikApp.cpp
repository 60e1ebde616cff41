// The process-wide object of the store, made when the library is loaded.
#include "chronik/CChronikApp.h"

namespace {
constexpr size_t kClearedBuckets = 1201;
}

CChronikApp::CChronikApp()
    : m_clearedByCode(kClearedBuckets)
{
}

CChronikApp& CChronikApp::Get()
{
    static CChronikApp theApp;
    return theApp;
}

void CChronikApp::ResetReadState()
{
    if (m_results.empty()) m_results.emplace_back();
    while (m_results.size() > 1) m_results.pop_back();
    m_rawEvents.clear();
    m_clearedByCode.clear();
}
