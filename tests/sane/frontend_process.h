// Running SANE's own programs (scanimage, saned) and b58scan from a test: environment,
// captured output, time-outs, signals.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace b58::testing {

// A program found on PATH or in the usual system folders; empty when missing.
inline std::string FindProgram(const std::string& name) {
    for (const char* folder : {"/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        if (::access(path.c_str(), X_OK) == 0) return path.string();
    }
    return {};
}

class Process {
  public:
    // Starts `argv` with the environment plus `extraEnv` ("NAME=value"), standard output and
    // error into `outputFile`.
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& outputFile)
        : outputFile_(outputFile) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& extra : extraEnv) {
                replaced = replaced || entry.substr(0, entry.find('=')) == extra.substr(0, extra.find('='));
            }
            if (!replaced) env.push_back(entry);
        }
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            Wait(std::chrono::seconds(10));
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Signal(int signal) const {
        if (pid_ > 0 && !exited_) ::kill(pid_, signal);
    }
    // True when the program ended within `limit`; its exit status then in Status().
    bool Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && !exited_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return exited_;
    }
    int Status() const { return status_; }
    std::string Output() const {
        std::ifstream file(outputFile_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
    std::string outputFile_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

}  // namespace b58::testing
