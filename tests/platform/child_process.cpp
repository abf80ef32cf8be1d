#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/platform_control.h"

extern char** environ;
#endif

namespace b58::test {
namespace {

constexpr const char* kRoleVariable = "B58_CHILD_ROLE";
constexpr const char* kArgumentsVariable = "B58_CHILD_ARGS";
constexpr char kArgumentSeparator = '\x1f';
constexpr int kUnknownRole = 126;

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += kArgumentSeparator;
        joined += arguments[i];
    }
    return joined;
}

std::vector<std::string> SplitArguments(const char* joined) {
    std::vector<std::string> arguments;
    if (joined == nullptr || *joined == '\0') return arguments;
    std::string current;
    for (const char* at = joined; *at != '\0'; ++at) {
        if (*at == kArgumentSeparator) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += *at;
        }
    }
    arguments.push_back(current);
    return arguments;
}

// The child is started with a filter naming the parent's current test, so that the test
// program sets up its environments (the child takes over there) instead of running nothing.
std::string FilterArgument() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "*";
    return "--gtest_filter=" + name;
}

[[noreturn]] void EndProcess(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(exitCode));
#else
    _exit(exitCode);
#endif
}

// In a child, plays the role before any test runs and ends the process.
class ChildRoleEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const char* role = std::getenv(kRoleVariable);
        if (role == nullptr || *role == '\0') return;
        auto found = Roles().find(role);
        if (found == Roles().end()) EndProcess(kUnknownRole);
        EndProcess(found->second(SplitArguments(std::getenv(kArgumentsVariable))));
    }
};

const testing::Environment* const kChildRoleEnvironment =
    testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);

}  // namespace

bool RegisterChildRole(const char* name, ChildRole role) {
    Roles()[name] = role;
    return true;
}

#ifdef _WIN32

struct ChildProcess::Native {
    PROCESS_INFORMATION process{};
    bool ended = false;
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& role,
                                                  const std::vector<std::string>& arguments) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::string commandLine = "\"" + std::string(path) + "\" " + FilterArgument();
    // The child inherits these; they are removed again at once so that later children
    // started without them do not.
    SetEnvironmentVariableA(kRoleVariable, role.c_str());
    SetEnvironmentVariableA(kArgumentsVariable, JoinArguments(arguments).c_str());
    auto native = std::make_unique<Native>();
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    BOOL started = CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &native->process);
    SetEnvironmentVariableA(kRoleVariable, nullptr);
    SetEnvironmentVariableA(kArgumentsVariable, nullptr);
    if (!started) return nullptr;
    CloseHandle(native->process.hThread);
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(native)));
}

int ChildProcess::Wait() {
    if (WaitForSingleObject(native_->process.hProcess, INFINITE) != WAIT_OBJECT_0) return -1;
    native_->ended = true;
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(native_->process.hProcess, &exitCode)) return -1;
    return static_cast<int>(exitCode);
}

ChildProcess::~ChildProcess() {
    if (!native_->ended) {
        TerminateProcess(native_->process.hProcess, 1);
        WaitForSingleObject(native_->process.hProcess, INFINITE);
    }
    CloseHandle(native_->process.hProcess);
}

#else

struct ChildProcess::Native {
    pid_t pid = -1;
    bool ended = false;
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& role,
                                                  const std::vector<std::string>& arguments) {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return nullptr;
    path[length] = '\0';

    // The parent's environment without any earlier child settings, plus this child's.
    std::vector<std::string> variables;
    for (char** at = environ; *at != nullptr; ++at) {
        std::string entry(*at);
        auto named = [&entry](const char* name) { return entry.rfind(std::string(name) + "=", 0) == 0; };
        if (!named(kRoleVariable) && !named(kArgumentsVariable) && !named("B58_TIME_SCALE")) {
            variables.push_back(entry);
        }
    }
    variables.push_back(std::string(kRoleVariable) + "=" + role);
    variables.push_back(std::string(kArgumentsVariable) + "=" + JoinArguments(arguments));
    char scale[64];
    std::snprintf(scale, sizeof(scale), "B58_TIME_SCALE=%.17g", platform::TimeScale());
    variables.push_back(scale);

    std::string filter = FilterArgument();
    std::vector<char*> argv = {path, filter.data(), nullptr};
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    auto native = std::make_unique<Native>();
    if (posix_spawn(&native->pid, path, nullptr, nullptr, argv.data(), envp.data()) != 0) return nullptr;
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(native)));
}

int ChildProcess::Wait() {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(native_->pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    if (result != native_->pid) return -1;
    native_->ended = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildProcess::~ChildProcess() {
    if (native_->ended) return;
    kill(native_->pid, SIGKILL);
    int status = 0;
    while (waitpid(native_->pid, &status, 0) < 0 && errno == EINTR) {
    }
}

#endif

ChildProcess::ChildProcess(std::unique_ptr<Native> native) : native_(std::move(native)) {}

}  // namespace b58::test
