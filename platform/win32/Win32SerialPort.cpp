#include <windows.h>

#include "platform/SerialPort.h"
#include "platform/Utf16.h"

namespace diagbridge::platform {

namespace {

// Flow-control limits of the handshake line format.
constexpr WORD kXonLimit = 80;
constexpr WORD kXoffLimit = 200;
// Line-status errors and carrier-detect changes.
constexpr DWORD kEventMask = EV_ERR | EV_RLSD;

class Win32SerialPort final : public ISerialPort {
  public:
    ~Win32SerialPort() override { Close(); }

    uint32_t Open(const std::string& path) override {
        Close();
        handle_ = ::CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        const DWORD error = ::GetLastError();
        if (handle_ == INVALID_HANDLE_VALUE) return error != 0 ? error : ERROR_OPEN_FAILED;
        timeoutMs_ = kNoTimeoutSet;
        return 0;
    }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        ::FlushFileBuffers(handle_);
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    bool SetLine(const LineSettings& line) override {
        if (!IsOpen()) return false;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = line.baud;
        dcb.ByteSize = line.dataBits;
        dcb.Parity = line.parity;
        dcb.StopBits = line.stopBits;
        dcb.fBinary = TRUE;
        dcb.fParity = TRUE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (line.handshake) {
            dcb.fOutxCtsFlow = TRUE;
            dcb.fTXContinueOnXoff = TRUE;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            dcb.fAbortOnError = TRUE;
            dcb.XonLim = kXonLimit;
            dcb.XoffLim = kXoffLimit;
        }
        if (!::SetCommState(handle_, &dcb)) return false;
        ::SetCommMask(handle_, kEventMask);
        return true;
    }

    size_t Write(const uint8_t* data, size_t count, uint32_t timeoutMs) override {
        if (!IsOpen() || data == nullptr || !UseTimeout(timeoutMs)) return 0;
        DWORD written = 0;
        ::WriteFile(handle_, data, static_cast<DWORD>(count), &written, nullptr);
        ::FlushFileBuffers(handle_);
        return written;
    }

    size_t Read(uint8_t* buffer, size_t count, uint32_t timeoutMs) override {
        if (!IsOpen() || buffer == nullptr || !UseTimeout(timeoutMs)) return 0;
        DWORD got = 0;
        if (!::ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
        return got;
    }

    uint32_t QueuedBytes(bool receive) override {
        if (!IsOpen()) return 0;
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) return 0;
        return receive ? status.cbInQue : status.cbOutQue;
    }

    void Discard(bool receive, bool transmit) override {
        if (!IsOpen()) return;
        const DWORD flags = (receive ? PURGE_RXCLEAR : 0) | (transmit ? PURGE_TXCLEAR : 0);
        if (flags != 0) ::PurgeComm(handle_, flags);
    }

    void SetBreak(bool on) override {
        if (!IsOpen()) return;
        if (on) {
            ::SetCommBreak(handle_);
        } else {
            ::ClearCommBreak(handle_);
        }
    }

    void ClearErrors() override {
        if (!IsOpen()) return;
        DWORD errors = 0;
        ::ClearCommError(handle_, &errors, nullptr);
    }

  private:
    static constexpr uint32_t kNoTimeoutSet = MAXDWORD;

    // One time-out bounds a whole read or write, as on the termios side.
    bool UseTimeout(uint32_t timeoutMs) {
        if (timeoutMs == timeoutMs_) return true;
        COMMTIMEOUTS timeouts{};
        // All zero would mean no time-out at all; a zero wait takes what is there.
        timeouts.ReadIntervalTimeout = timeoutMs == 0 ? MAXDWORD : timeoutMs;
        timeouts.ReadTotalTimeoutConstant = timeoutMs;
        timeouts.WriteTotalTimeoutConstant = timeoutMs == 0 ? 1 : timeoutMs;
        if (!::SetCommTimeouts(handle_, &timeouts)) return false;
        timeoutMs_ = timeoutMs;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint32_t timeoutMs_ = kNoTimeoutSet;
};

}  // namespace

std::unique_ptr<ISerialPort> CreateOsSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

}  // namespace diagbridge::platform
