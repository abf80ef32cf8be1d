#include "state/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/win32.h"

namespace b58 {
namespace {

// The reader thread may trace while the host's thread does: one lock keeps the message
// buffer and the indentation whole.
std::mutex g_traceLock;
char g_indent[kTraceIndentSize] = {};
size_t g_indentDepth = 0;

void SetDepth(size_t depth) {
    // Keep room for the terminator: at most kTraceIndentSize - 1 spaces.
    if (depth > kTraceIndentSize - 1) depth = kTraceIndentSize - 1;
    std::memset(g_indent, ' ', depth);
    g_indent[depth] = '\0';
    g_indentDepth = depth;
}

}  // namespace

void Trace(const char* format, ...) {
    char message[kTraceMessageSize] = "";
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        // A formatting error (e.g. an unconvertible wide string) writes the message as empty
        // rather than leave the buffer in an unknown state.
        if (std::vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
        va_end(args);
    }

    std::lock_guard<std::mutex> hold(g_traceLock);
    if (message[0] == '<') SetDepth(g_indentDepth + 2);

    char line[sizeof "\nC4:" + kTraceIndentSize + kTraceMessageSize];
    std::snprintf(line, sizeof line, "\nC4:%s%s", g_indent, message);
    OutputDebugStringA(line);

    if (message[0] == '>') SetDepth(g_indentDepth >= 2 ? g_indentDepth - 2 : 0);
}

size_t TraceIndentDepth() {
    std::lock_guard<std::mutex> hold(g_traceLock);
    return g_indentDepth;
}

void ResetTraceIndent() {
    std::lock_guard<std::mutex> hold(g_traceLock);
    SetDepth(0);
}

}  // namespace b58
