#pragma once
#include <atomic>
#include <cstddef>
#include <thread>

#include "drivers/xl/XlPort.h"

namespace diagbridge::xl {

// An XL port whose wire is a file descriptor (socket, serial line). A reader thread blocks in
// poll and hands what arrives to OnReadable; writes wait for the descriptor with a time-out.
class FdXlPort : public XlPort {
  public:
    ~FdXlPort() override;

  protected:
    static constexpr int kReaderPollMs = 500;
    static constexpr int kWriteTimeoutMs = 1000;

    // Takes ownership of fd (non-blocking).
    explicit FdXlPort(int fd);
    // Starts the reader; call at the end of the derived constructor.
    void StartReader();
    // Stops and joins the reader; call first in the derived destructor.
    void StopReader();
    // Reads what is available and delivers it; false when the wire is gone.
    virtual bool OnReadable(int fd) = 0;
    // Writes all of data within kWriteTimeoutMs; false on error, hang-up or time-out.
    bool WriteAll(const void* data, size_t size);
    bool IsBroken() const { return broken_.load(); }

  private:
    void ReadLoop();

    int fd_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> broken_{false};
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace diagbridge::xl
