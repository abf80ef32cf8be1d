// The debugger channel on Windows. OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the
// text's length (terminator included) and the text as its two arguments; a debugger that is
// attached takes it, otherwise the system passes it to the process's exception handlers and
// then on to the system-wide debug-output buffer. While a sink is set, a vectored handler
// takes the exception first, hands the text to the sink and lets the caller continue, so the
// text goes nowhere else. Without a sink the handler is removed and the system's own path
// stands. (An attached debugger still sees every text first.)
//
// As on the stand-in platform: calls are serialised, each text reaches the sink whole, once
// SetDebugSink returns the previous sink is not called again, and a sink must not itself call
// OutputDebugStringA or SetDebugSink.
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

#ifndef DBG_PRINTEXCEPTION_C
constexpr DWORD DBG_PRINTEXCEPTION_C = 0x40010006;
#endif

struct DebugChannel {
    std::mutex lock;
    DebugSink sink;
    PVOID handler = nullptr;  // the registered vectored handler while a sink is set
};

DebugChannel& Channel() {
    static DebugChannel* channel = new DebugChannel;  // never destroyed: threads may trace late
    return *channel;
}

LONG CALLBACK TakeDebugText(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto length = static_cast<size_t>(record->ExceptionInformation[0]);
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    if (text == nullptr || length == 0) return EXCEPTION_CONTINUE_SEARCH;

    DebugChannel& channel = Channel();
    std::lock_guard<std::mutex> hold(channel.lock);
    // The sink may have been cleared while this exception was on its way here: then the
    // system's own path takes the text.
    if (!channel.sink) return EXCEPTION_CONTINUE_SEARCH;
    // The length counts the terminator; a text is never read beyond it.
    const std::string whole(text, strnlen(text, length - 1));
    channel.sink(whole.c_str());
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void SetDebugSink(DebugSink sink) {
    DebugChannel& channel = Channel();
    std::lock_guard<std::mutex> hold(channel.lock);
    channel.sink = std::move(sink);
    if (channel.sink && channel.handler == nullptr) {
        // First in the chain, so no other handler sees the text before the sink does.
        channel.handler = AddVectoredExceptionHandler(1, TakeDebugText);
    } else if (!channel.sink && channel.handler != nullptr) {
        RemoveVectoredExceptionHandler(channel.handler);
        channel.handler = nullptr;
    }
}

}  // namespace b58::platform
