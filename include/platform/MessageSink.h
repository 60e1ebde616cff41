// The one place user-visible messages go. A host may replace the default
// (the text on standard error, prefixed with its id where it has one) by a
// callback of its own. The callback runs on the thread that shows the
// message: for a codec or a conversion, the thread that called it (never a
// worker thread of a conversion); threads converting at once may call it at
// the same time, so it must be safe for that.
#pragma once

#include "platform/PlatformApi.h"

extern "C" {
// id is the message's table id, or 0 for a message without one; text is UTF-8.
typedef void (*MessageSinkCallback)(int id, const char* text, void* user);

// Installs a callback (null restores the default).
PLATFORM_API void SetMessageSink(MessageSinkCallback callback, void* user);
}

// Shows one message through the sink; returns 1 (the OK button).
PLATFORM_API int ShowMessage(int id, const char* text);
// A message without an id.
PLATFORM_API int AfxMessageBox(const char* text);
