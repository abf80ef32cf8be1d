// Child processes for tests that need a second process: the test program runs itself
// again, and the copy plays a role the tests registered, then ends with the role's exit
// code. Works the same here and on Windows.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace b58::test {

// A role: gets the arguments given to ChildProcess::Start and returns the exit code
// (0 to 125). A role may leave things held on purpose: the process ends right after it.
using ChildRole = int (*)(const std::vector<std::string>& arguments);

// Registers `role` under `name`; call at namespace scope, e.g.
//   const bool kRegistered = RegisterChildRole("hold-mutex", HoldMutex);
bool RegisterChildRole(const char* name, ChildRole role);

class ChildProcess {
  public:
    // Starts this test program as a child that plays `role` with `arguments`. The child
    // inherits the environment, including the platform's time scale. Null if it cannot start.
    static std::unique_ptr<ChildProcess> Start(const std::string& role,
                                               const std::vector<std::string>& arguments);

    // Stops the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the child to end; its exit code, or -1 if it could not be waited for or did
    // not end normally.
    int Wait();

    struct Native;

  private:
    explicit ChildProcess(std::unique_ptr<Native> native);
    std::unique_ptr<Native> native_;
};

}  // namespace b58::test
