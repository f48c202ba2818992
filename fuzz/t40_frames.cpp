// T40 controller bytes: response frames on a scripted line (an accepted frame is exactly the
// bytes that came, its length byte and checksum holding; every refusal has its own code), the
// wake-up and boot-loader hand-shakes (bounded on the manual clock), and the readers of
// answers (response codes, ident block, event memory) and of download HEX text (every
// request within a frame, its length byte matching).
#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "devices/CT40.h"
#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzSerialLine.h"
#include "t40kalidor/CST40.h"
#include "t40kalidor/T40EventText.h"
#include "t40kalidor/T40Ident.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::AsText;
using diagbridge::fuzz::Require;
using testfakes::Bytes;

constexpr std::size_t kLongestFrame = 255;  // length byte 254 and the bytes it counts
constexpr std::size_t kMaxRequestBytes = 253;
constexpr uint32_t kWakeUpBoundMs = 10000;
constexpr uint32_t kFlashModeBoundMs = CT40::kFlashModeWindowMs + 5000;

// The input after the selector as replies: each a length byte and that many bytes.
void QueueReplies(testfakes::ScriptedLine& line, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size;) {
        const std::size_t length = std::min<std::size_t>(data[i], size - i - 1);
        line.Queue(Bytes(data + i + 1, data + i + 1 + length));
        i += 1 + length;
    }
}

void CheckTransact(const uint8_t* data, std::size_t size, bool skyLink) {
    fuzz::SerialLine line;
    CT40 device(3, 0, skyLink ? 1 : 0);
    Require(device.Open(3, 0, CT40::kLineBaud, 1000, skyLink ? 1 : 0) == CD5Device::kOk);
    const Bytes reply(data, data + std::min(size, kLongestFrame + 4));
    line.line.Queue(reply);
    const uint8_t request[] = {0x07, 0x00};
    const int32_t result = device.Transact(0x03, sizeof(request), request);
    const uint8_t length = reply.empty() ? 0 : reply[0];
    int32_t expected = CD5Device::kOk;
    if (reply.empty()) {
        expected = CD5Device::kNoAnswer;
    } else if (length == 0 || length == 0xFF || reply.size() < length + 1u) {
        expected = CD5Device::kBadFrame;
    } else if (std::accumulate(reply.begin(), reply.begin() + length, 0u) % 256 != reply[length]) {
        expected = CD5Device::kBadChecksum;
    }
    Require(device.GetLastError() == expected);
    Require((result != 0) == (expected == CD5Device::kOk));
    if (result == 0) {
        Require(device.ResponseLength() == 0);
        return;
    }
    Require(device.ResponseLength() == length);
    Require(std::equal(reply.begin(), reply.begin() + length + 1, device.ResponseFrame()));
}

// The 5-baud wake-up, or (flash) the boot loader's entry hand-shake.
void CheckHandShake(const uint8_t* data, std::size_t size, bool skyLink, bool flash) {
    fuzz::SerialLine line;
    QueueReplies(line.line, data, size);
    CT40 device(3, 0, skyLink ? 1 : 0);
    Require(device.Open(3, 0, CT40::kLineBaud, 1000, skyLink ? 1 : 0) == CD5Device::kOk);
    const uint32_t start = line.clock.TickMs();
    if (!flash) {
        const int32_t awake = device.WakeUp();
        Require(awake == 0 || awake == 1);
        Require(awake == 0 || device.ResponseLength() >= 1);
        Require(line.clock.TickMs() - start <= kWakeUpBoundMs);
        return;
    }
    const int32_t entered = device.EnterFlashMode((size % 2) == 0 ? "T40H4" : "T40H5");
    Require(entered == CD5Device::kOk || entered == CD5Device::kBadFrame);
    Require(line.clock.TickMs() - start <= kFlashModeBoundMs);
    const std::string& ident = device.FlashIdent();
    Require(ident == "XXXX" || ident == "H4" || ident == "H5");
    Require(ident != "H4" || (entered == CD5Device::kOk && device.IsH4() == 1));
    Require(ident != "H5" || (entered == CD5Device::kOk && device.IsH4() == 0));
}

int32_t ExpectedResponseCheck(const Bytes& bytes) {
    if (bytes.empty()) return CST40::kNoResponse;
    if (bytes[0] == 0x0A) return CST40::kRefused;
    if (bytes[0] != 0xF9) return kResultOk;
    switch (bytes.size() > 5 ? bytes[5] : 0) {
        case 0x00:
        case 0x10:
            return kResultOk;
        case 0x31:
            return CST40::kBusy;
        case 0x40:
            return CST40::kEraseInProgress;
        default:
            return CST40::kRefused;
    }
}

// The ident block's fields, first and last byte, as the controller lays them out.
struct Field {
    const char* key;
    std::size_t first;
    std::size_t last;
};
constexpr Field kIdentFields[] = {
    {"SOFTWAREPARTNUMBER", 1, 8},  {"DIAGNOSTICTYPE", 9, 16},     {"TRANSMISSIONTYPE", 17, 36},
    {"SOFTWAREVERSION", 37, 44},   {"ASSEMBLYNUMBER", 57, 66},    {"HARDWARERESERVE", 67, 74},
    {"SEMIFINISHED", 75, 82},      {"SERIALNUMBER", 83, 90},      {"ECUNUMBER", 101, 108},
    {"DATASETNUMBER", 109, 116},   {"DATASETACTUAL", 117, 124},   {"DATASETHISTORY1", 125, 132},
    {"DATASETHISTORY2", 133, 140}, {"DATASETHISTORY3", 141, 148}, {"DATASETHISTORY4", 149, 156},
    {"RESERVE1", 47, 56},          {"RESERVE2", 91, 100},         {"RESERVE3", 157, 208},
};

std::string NonZeroBytes(const Bytes& block, std::size_t first, std::size_t last) {
    std::string text;
    for (std::size_t i = first; i <= last && i < block.size(); ++i) {
        if (block[i] != 0) text += static_cast<char>(block[i]);
    }
    return text;
}

void CheckIdent(const Bytes& block) {
    const std::string text = T40IdentText("H5", block, "T40H5");
    std::size_t expected = std::string("HARDWAREVERSION=H5|ECU=T40H5|").size();
    for (const Field& field : kIdentFields) {
        const std::string value = T40IdentValue(block, field.key);
        Require(value == (block.empty() ? "" : NonZeroBytes(block, field.first, field.last)));
        expected += std::string(field.key).size() + 2 + value.size();
    }
    const std::string length = T40IdentValue(block, "DATASETLENGTH");
    const uint32_t word = block.size() > 46   ? (block[45] << 8) | block[46]
                          : block.size() > 45 ? (block[45] << 8)
                                              : 0;
    Require(length == (block.empty() ? "" : FormatText("_%u", word)));
    expected += std::string("DATASETLENGTH").size() + 2 + length.size();
    Require(text.size() == expected);
    Require(T40IdentValue(block, "NOSUCHKEY").empty());
}

// Event k shows 9 bytes, an addendum 10, each as " XX" with the line's "|".
void CheckEvents(const Bytes& bytes, const std::string& response) {
    const std::string text = T40EventSectionText(response);
    const std::size_t events = bytes.size() > 3 ? bytes[3] : 0;
    std::size_t expected =
        FormatText("[EventMem]|EventAnz=%d|EventX=", static_cast<int>(events)).size() +
        response.size() + 1;
    for (std::size_t k = 1; k <= events; ++k) {
        expected += FormatText("Event%d= ", static_cast<int>(k)).size() + 9 * 3 + 1;
    }
    if (bytes.size() > 10 * events + 2) {
        const std::size_t addenda = (bytes.size() - (10 * events + 1)) / 10;
        for (std::size_t a = 1; a <= addenda; ++a) {
            expected += FormatText("Addendum%d= ", static_cast<int>(a)).size() + 10 * 3 + 1;
        }
    }
    Require(text.size() == expected);
}

void CheckAnswerReaders(const uint8_t* data, std::size_t size) {
    const Bytes bytes(data, data + std::min(size, kLongestFrame));
    const std::string response = BytesToHexString(bytes.data(), bytes.size());
    Require(T40Bytes(response) == bytes);
    Require(CST40::CheckResponse(response) == ExpectedResponseCheck(bytes));
    CheckIdent(bytes);
    CheckEvents(bytes, response);
}

// Every request: command, length byte = data count, three address bytes, the data.
void CheckRequests(const std::vector<std::string>& requests, uint8_t command) {
    for (const std::string& request : requests) {
        const Bytes bytes = T40Bytes(request);
        Require(bytes.size() >= 5 && bytes.size() <= kMaxRequestBytes);
        Require(bytes[0] == command && bytes[1] == bytes.size() - 5);
    }
}

void CheckDownloadText(std::string_view input) {
    static CST40 stack(nullptr, "ISO_9141");
    const std::string text(input);
    const int32_t kind = CST40::DetectDownloadKind(text, 0x400);
    Require(kind == -1 || kind == 2 || kind == 5 || kind == 6);
    const bool software = stack.PrepareSoftwareData(text);
    Require(software == !stack.DownloadList().empty());
    CheckRequests(stack.DownloadList(), 0x5A);
    const bool dataSet = stack.PrepareDataSetData(text);
    Require(dataSet == !stack.DownloadList().empty());
    CheckRequests(stack.DownloadList(), 0x1A);
    if (dataSet) {
        Require(stack.PartNumberBytes().size() >= 8 * 2 - 1);
        Require(T40Bytes(stack.PartNumberBytes()).size() == 8);
        for (const std::string& request : stack.DownloadList()) Require(T40Bytes(request)[2] == 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    // Bits 0-1 pick the reader, bit 2 a SkyLink line, bit 3 the boot loader's hand-shake.
    const bool skyLink = (selector & 4) != 0;
    switch (selector % 4) {
        case 0:
            CheckTransact(data + 1, size - 1, skyLink);
            break;
        case 1:
            CheckHandShake(data + 1, size - 1, skyLink, (selector & 8) != 0);
            break;
        case 2:
            CheckAnswerReaders(data + 1, size - 1);
            break;
        default:
            CheckDownloadText(AsText(data + 1, size - 1));
            break;
    }
    return 0;
}
