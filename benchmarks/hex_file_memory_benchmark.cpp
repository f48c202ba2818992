// Peak memory of a download given as a HEX file path: the file is read by DbrDownload and
// converted into UDS blocks by the service, as the UDS download does first. Prints the file
// size and how much the process grew, as a multiple of the file.
//
// usage: hex_file_memory_benchmark [MiB of image data, default 14]

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "ecu/CEcu.h"
#include "engine/CSoftwareInterface.h"
#include "engine/IServiceEvents.h"
#include "uds/HexImage.h"

namespace {

using namespace diagbridge;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kRecordBytes = 16;  // the common layout of HEX files
constexpr const char* kKeyword = "MEASURE";

// Converts the download like the UDS stack, and does nothing else.
class ConvertingProtocol : public CSoftwareInterface {
  public:
    ConvertingProtocol() : CSoftwareInterface(nullptr, kProtocolUds) {}
    ~ConvertingProtocol() override { StopWorker(); }
    int32_t GetServiceTimeout() override { return 600000; }
    int32_t ServiceDownload(ServiceOrder order) override {
        std::vector<UdsTransferDatablockTag> blocks;
        return ConvertHexToDatablocks(order.hexText, 0, blocks) > 0 ? 0 : -50;
    }
};

class MeasuredEcu : public CEcu {
  public:
    explicit MeasuredEcu(CSoftwareInterface* object) : CEcu(object) {
        SetCreated(true);
        SetPermissions(true, true, true, true);
    }
    int32_t Connect() override { return ConnectThroughCommunicationObject(); }
};

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Streams a linear-addressed image of dataBytes to path, CR LF line ends.
bool WriteHexFile(const std::string& path, std::size_t dataBytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    auto record = [&](uint8_t type, uint16_t address, const uint8_t* data, std::size_t length) {
        uint8_t sum = static_cast<uint8_t>(length + (address >> 8) + (address & 0xFF) + type);
        std::fprintf(file, ":%02X%04X%02X", static_cast<unsigned>(length), address, type);
        for (std::size_t i = 0; i < length; ++i) {
            std::fprintf(file, "%02X", data[i]);
            sum = static_cast<uint8_t>(sum + data[i]);
        }
        std::fprintf(file, "%02X\r\n", static_cast<uint8_t>(0x100 - sum));
    };
    uint8_t data[kRecordBytes];
    for (std::size_t address = 0; address < dataBytes; address += kRecordBytes) {
        if (address % 0x10000 == 0) {
            const uint8_t upper[2] = {static_cast<uint8_t>(address >> 24),
                                      static_cast<uint8_t>(address >> 16)};
            record(0x04, 0, upper, sizeof upper);
        }
        for (std::size_t i = 0; i < kRecordBytes; ++i) data[i] = static_cast<uint8_t>(address + i);
        record(0x00, static_cast<uint16_t>(address), data, kRecordBytes);
    }
    record(0x01, 0, nullptr, 0);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t dataMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 14;
    const std::string path = "/tmp/hex_file_memory_benchmark.hex";
    if (!WriteHexFile(path, dataMiB * kMiB)) return 1;
    FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long fileBytes = std::ftell(file);
    std::fclose(file);

    ObjectRegistry registry;
    registry.protocols.push_back(
        {kKeyword, kProtocolUds, "ConvertingProtocol", [](IServiceEvents*, const std::string&) {
             return std::unique_ptr<CSoftwareInterface>(std::make_unique<ConvertingProtocol>());
         }});
    registry.ecuTypes.push_back(
        {kKeyword, kProtocolUds, "MeasuredEcu", [](CSoftwareInterface* object, const std::string&) {
             return std::unique_ptr<CEcu>(std::make_unique<MeasuredEcu>(object));
         }});
    CCommandInterface component(registry);
    int32_t id = 0;
    int32_t ecu = 0;
    int32_t result = 0;
    component.DbrCreateCommunicationObject(kKeyword, &id);
    component.DbrCreateEcuObject(kKeyword, id, &ecu);
    component.DbrConnect(ecu, &result);
    const long before = PeakKiB();
    component.DbrDownload(ecu, 0, path, &result);
    const long after = PeakKiB();
    std::remove(path.c_str());
    const double fileMiB = static_cast<double>(fileBytes) / kMiB;
    const double grewMiB = static_cast<double>(after - before) / 1024.0;
    std::printf("HEX file %.1f MiB (%zu MiB image, %zu-byte records): download result %d\n",
                fileMiB, dataMiB, kRecordBytes, result);
    std::printf("peak memory grew by %.1f MiB = %.2f x the file (file text, then UDS blocks)\n",
                grewMiB, grewMiB / fileMiB);
    return result == 0 ? 0 : 1;
}
