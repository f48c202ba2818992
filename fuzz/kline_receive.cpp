// K-line frame reception fed with arbitrary bytes: a scripted serial port answers the T60
// device's requests with the input, the manual clock makes every wait free. An answer never
// exceeds the capacity it is given, and its count is what the device says it read.
#include <algorithm>
#include <vector>

#include "devices/CT60.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Clock.h"
#include "tests/devices/FakeSerialPort.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;

constexpr uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;

void CheckGuard(const std::vector<uint8_t>& buffer, std::size_t capacity) {
    Require(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(capacity), buffer.end(),
                        [](uint8_t b) { return b == kGuard; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static platform::ManualClock clock;
    static platform::ScopedClock scoped(clock);
    testfakes::FakeLine line;
    platform::SerialLog log;
    platform::ScopedSerialPortFactory factory(testfakes::FakePortFactory(line, log));
    // First byte: bit 0 a SkyLink line (no echo), bit 1 a raw frame transfer, the rest picks
    // the capacity.
    const bool wired = (data[0] & 1) == 0;
    line.echo = wired;
    CT60 device(0, 0, wired ? 0 : 1);
    Require(device.Open(3, 0, CT60::kKLineBaud, 1000, wired ? 0 : 1) == CD5Device::kOk);
    const std::size_t capacity = (data[1] % 32 == 0) ? 300 : data[1] % 32;
    line.Queue(std::vector<uint8_t>(data + 2, data + size));
    std::vector<uint8_t> buffer(std::max<std::size_t>(capacity, 8) + kGuardBytes, kGuard);
    if ((data[0] & 2) != 0) {
        const uint8_t request[] = {0x81, 0x10, 0xF1, 0x3E, 0xC0};
        std::copy(std::begin(request), std::end(request), buffer.begin());
        const std::size_t frameCapacity = std::max<std::size_t>(capacity, sizeof(request));
        std::fill(buffer.begin() + frameCapacity, buffer.end(), kGuard);
        const int32_t length = device.TransferFrame(buffer.data(), sizeof(request),
                                                    static_cast<uint32_t>(frameCapacity));
        Require(length >= 0 && static_cast<std::size_t>(length) <= frameCapacity);
        CheckGuard(buffer, frameCapacity);
    } else {
        const uint8_t request[] = {0x1A, 0x93};
        const int32_t count = device.SendCommand(request, sizeof(request), buffer.data(),
                                                 static_cast<uint32_t>(capacity));
        // The data and its checksum fit in the capacity.
        Require(count >= 0 && (count == 0 || static_cast<std::size_t>(count) + 1 <= capacity));
        CheckGuard(buffer, capacity);
        std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(capacity), 0);
        const int32_t more = device.ReceiveResponse(buffer.data(), static_cast<uint32_t>(capacity));
        Require(more >= 0 && (more == 0 || static_cast<std::size_t>(more) + 1 <= capacity));
        CheckGuard(buffer, capacity);
    }
    device.Close();
    return 0;
}
