// The debugger channel. OutputDebugStringA hands its text to one sink at a time: the sink
// a test set with SetDebugSink, else the choice of the environment variable B58_TRACE
// ("stderr" for standard error, any other non-empty value a file the text is appended to),
// else nowhere. The variable is looked at on every call without a test sink, so a test
// may change it; the file is opened once per distinct name and flushed after each text.
//
// Calls are serialised: a sink never runs on two threads at once, each text reaches it
// whole, and once SetDebugSink returns the previous sink is not called again. A sink
// must not itself call OutputDebugStringA or SetDebugSink.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

struct DebugChannel {
    std::mutex lock;
    DebugSink sink;
    std::string fileName;  // the B58_TRACE file currently open
    std::FILE* file = nullptr;
};

DebugChannel& Channel() {
    // Never destroyed, as threads may trace late; and not on the heap, so that a host that
    // unloads the library does not lose the channel as a leak.
    alignas(DebugChannel) static unsigned char storage[sizeof(DebugChannel)];
    static DebugChannel* channel = new (storage) DebugChannel;
    return *channel;
}

// With the channel locked.
void WriteToEnvironmentChoice(DebugChannel& channel, const char* text) {
    const char* choice = std::getenv("B58_TRACE");
    if (choice == nullptr || choice[0] == '\0') return;
    if (std::string(choice) == "stderr") {
        std::fputs(text, stderr);
        std::fflush(stderr);
        return;
    }
    if (channel.file == nullptr || channel.fileName != choice) {
        if (channel.file != nullptr) std::fclose(channel.file);
        channel.fileName = choice;
        channel.file = std::fopen(choice, "ae");
        if (channel.file == nullptr) return;
    }
    std::fputs(text, channel.file);
    std::fflush(channel.file);
}

}  // namespace

void SetDebugSink(DebugSink sink) {
    DebugChannel& channel = Channel();
    std::lock_guard<std::mutex> hold(channel.lock);
    channel.sink = std::move(sink);
}

}  // namespace b58::platform

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    b58::platform::DebugChannel& channel = b58::platform::Channel();
    std::lock_guard<std::mutex> hold(channel.lock);
    if (channel.sink) {
        channel.sink(text);
    } else {
        WriteToEnvironmentChoice(channel, text);
    }
}

// There is no user interface: the box goes to the debugger channel and is "answered" OK.
int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::string line = "\n[message box] ";
    line += caption != nullptr ? caption : "Error";
    line += ": ";
    line += text != nullptr ? text : "";
    OutputDebugStringA(line.c_str());
    return IDOK;
}
