// Default message sink and the host's replacement.
#include "platform/MessageSink.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkMutex;
MessageSinkCallback g_sink = nullptr;
void* g_sinkUser = nullptr;
}

extern "C" void SetMessageSink(MessageSinkCallback callback, void* user)
{
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = callback;
    g_sinkUser = user;
}

int ShowMessage(int id, const char* text)
{
    MessageSinkCallback sink;
    void* user;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        sink = g_sink;
        user = g_sinkUser;
    }
    if (!text) text = "";
    if (sink) {
        sink(id, text, user);
    } else if (id) {
        fprintf(stderr, "%d: %s\n", id, text);
    } else {
        fprintf(stderr, "%s\n", text);
    }
    return 1;
}

int AfxMessageBox(const char* text)
{
    return ShowMessage(0, text);
}
