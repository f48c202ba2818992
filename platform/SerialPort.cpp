#include "platform/SerialPort.h"

#include <cstdlib>
#include <mutex>
#include <utility>

namespace diagbridge::platform {

namespace {
// Ports from 9 on exist only in the device namespace.
constexpr uint8_t kHighestPlainComName = 8;

std::mutex& FactoryMutex() {
    static std::mutex mutex;
    return mutex;
}
SerialPortFactory& InstalledFactory() {
    static SerialPortFactory factory;
    return factory;
}
}  // namespace

std::unique_ptr<ISerialPort> CreateSerialPort() {
    SerialPortFactory factory;
    {
        std::lock_guard lock(FactoryMutex());
        factory = InstalledFactory();
    }
    return factory ? factory() : CreateOsSerialPort();
}

ScopedSerialPortFactory::ScopedSerialPortFactory(SerialPortFactory factory) {
    std::lock_guard lock(FactoryMutex());
    previous_ = std::exchange(InstalledFactory(), std::move(factory));
}

ScopedSerialPortFactory::~ScopedSerialPortFactory() {
    std::lock_guard lock(FactoryMutex());
    InstalledFactory() = std::move(previous_);
}

std::string PosixComPortPath(uint8_t port) {
    const std::string variable = "DIAGBRIDGE_COM" + std::to_string(port);
    if (const char* path = std::getenv(variable.c_str()); path != nullptr && *path != '\0') {
        return path;
    }
    if (port == 0) return {};
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string Win32ComPortName(uint8_t port) {
    std::string name = "COM" + std::to_string(port);
    return port > kHighestPlainComName ? "\\\\.\\" + name : name;
}

std::string ComPortPath(uint8_t port) {
#ifdef _WIN32
    return Win32ComPortName(port);
#else
    return PosixComPortPath(port);
#endif
}

}  // namespace diagbridge::platform
