// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes. Usable on every platform the tests run on.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace b58::testing {

class ScratchDirectory {
  public:
    ScratchDirectory() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            path_ = std::filesystem::temp_directory_path() /
                    ("b58-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1)));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The platform's own form of a name in this folder.
    std::string Name(const std::string& file) const { return (path_ / file).string(); }

    // Writes `content` to a file in this folder, bytes as given; returns its name.
    std::string Write(const std::string& file, const std::string& content) const {
        std::string name = Name(file);
        std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
        return name;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace b58::testing
