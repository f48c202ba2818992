#pragma once
#include <functional>
#include <string>

namespace diagbridge::platform {

// Shows a message to the person at the machine: a message box on Windows, one line on
// stderr elsewhere. Never blocks on POSIX; safe from any thread.
void Notify(const std::string& text);

// Routes every Notify of the process to handler while this object lives (tests, tools).
class ScopedNotifier {
  public:
    using Handler = std::function<void(const std::string&)>;
    explicit ScopedNotifier(Handler handler);
    ~ScopedNotifier();
    ScopedNotifier(const ScopedNotifier&) = delete;
    ScopedNotifier& operator=(const ScopedNotifier&) = delete;

  private:
    Handler previous_;
};

}  // namespace diagbridge::platform
