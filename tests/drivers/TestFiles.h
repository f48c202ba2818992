#pragma once
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace diagbridge::xl {

// A fresh temporary directory, removed with its files at the end of the test.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/diagbridge-drivers-XXXXXX";
        path_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        [[maybe_unused]] const int ignored = std::system(command.c_str());
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace diagbridge::xl
