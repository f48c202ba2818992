#pragma once
#include <stdlib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace diagbridge::testfakes {

// Points COM port number port at path (DIAGBRIDGE_COM<port>) while this object lives.
class ScopedComPort {
  public:
    ScopedComPort(uint8_t port, const std::string& path)
        : name_("DIAGBRIDGE_COM" + std::to_string(port)) {
        if (const char* old = ::getenv(name_.c_str())) previous_ = old;
        ::setenv(name_.c_str(), path.c_str(), 1);
    }
    ~ScopedComPort() {
        if (previous_) {
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedComPort(const ScopedComPort&) = delete;
    ScopedComPort& operator=(const ScopedComPort&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace diagbridge::testfakes
