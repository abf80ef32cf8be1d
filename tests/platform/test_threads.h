// Running test code on threads made with CreateThread.
#pragma once

#include <functional>
#include <memory>

#include "platform/win32.h"

namespace b58::test {

namespace detail {
inline DWORD WINAPI RunBody(LPVOID parameter) {
    std::unique_ptr<std::function<DWORD()>> body(static_cast<std::function<DWORD()>*>(parameter));
    return (*body)();
}
}  // namespace detail

// Starts `body` on a new thread; its handle, or null.
inline HANDLE StartThread(std::function<DWORD()> body, DWORD* threadId = nullptr) {
    auto* parameter = new std::function<DWORD()>(std::move(body));
    HANDLE thread = CreateThread(nullptr, 0, detail::RunBody, parameter, 0, threadId);
    if (thread == nullptr) delete parameter;
    return thread;
}

// Runs `body` on another thread to its end; what it returned (0xFFFFFFFF if it could not run).
inline DWORD RunOnOtherThread(std::function<DWORD()> body) {
    HANDLE thread = StartThread(std::move(body));
    if (thread == nullptr) return 0xFFFFFFFFu;
    DWORD exitCode = 0xFFFFFFFFu;
    if (WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &exitCode)) {
        exitCode = 0xFFFFFFFFu;
    }
    CloseHandle(thread);
    return exitCode;
}

}  // namespace b58::test
