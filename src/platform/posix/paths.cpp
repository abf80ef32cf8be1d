// Path forms and the Windows directory.
//
// The driver builds and passes paths in Windows form ("C:\dir\file", backslashes). Here a
// Windows-form path names the POSIX path with the same components: the drive prefix is
// dropped and backslashes become slashes, so "\opt\b58\ztb58.ini" and "C:\opt\b58\ztb58.ini"
// both name /opt/b58/ztb58.ini. POSIX paths pass through unchanged. File names stay case
// sensitive.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

#ifndef B58_DEFAULT_WINDOWS_DIR
#define B58_DEFAULT_WINDOWS_DIR "/var/lib/b58/windows"
#endif

namespace b58::platform {
namespace {

// A POSIX directory as the Windows directory: absolute, without trailing slashes.
std::string NormaliseDirectory(const std::string& posixPath) {
    std::string path = posixPath;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (!error) path = absolute.string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string StartUpWindowsDirectory() {
    const char* fromEnvironment = std::getenv("B58_WINDOWS_DIR");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return NormaliseDirectory(fromEnvironment);
    return NormaliseDirectory(B58_DEFAULT_WINDOWS_DIR);
}

struct WindowsDirectoryChoice {
    std::mutex lock;
    std::string override;  // empty: the start-up choice
};

WindowsDirectoryChoice& Choice() {
    static WindowsDirectoryChoice* choice = new WindowsDirectoryChoice;  // never destroyed
    return *choice;
}

std::string CurrentWindowsDirectory() {
    static const std::string startUp = StartUpWindowsDirectory();
    WindowsDirectoryChoice& choice = Choice();
    std::lock_guard<std::mutex> hold(choice.lock);
    return choice.override.empty() ? startUp : choice.override;
}

}  // namespace

std::string ToPosixPath(const char* windowsPath) {
    if (windowsPath == nullptr) return {};
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        path.erase(0, 2);
    }
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::string ToWindowsPath(const std::string& posixPath) {
    std::string path = posixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// An empty path returns to the start-up choice.
void SetWindowsDirectory(const std::string& posixPath) {
    std::string directory = posixPath.empty() ? std::string() : NormaliseDirectory(posixPath);
    WindowsDirectoryChoice& choice = Choice();
    std::lock_guard<std::mutex> hold(choice.lock);
    choice.override = std::move(directory);
}

}  // namespace b58::platform

// As on Windows: the length without the terminator when the buffer holds the whole name;
// otherwise the size needed including the terminator, and the buffer is left alone.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    const std::string directory = b58::platform::ToWindowsPath(b58::platform::CurrentWindowsDirectory());
    if (buffer == nullptr || directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<UINT>(directory.size());
}

// As on Windows, a null argument gives a null result instead of a fault.
LPSTR lstrcatA(LPSTR destination, LPCSTR source) {
    if (destination == nullptr || source == nullptr) return nullptr;
    return std::strcat(destination, source);
}
