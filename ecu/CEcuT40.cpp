#include "ecu/CEcuT40.h"

#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge {

namespace {
constexpr int32_t kSingleRequestTimeoutMs = 500;
constexpr int32_t kUploadTimeoutMs = 120000;
constexpr int32_t kDownloadTimeoutMs = 600000;
constexpr int32_t kJobTimeoutMs = 1000;
constexpr int32_t kH4DownloadBaud = 9600;
constexpr int32_t kH5DownloadBaud = 38400;
constexpr const char* kAddressText = "0x23h";
constexpr const char* kSectionHeadings[] = {"[FRAM]", "[IdentMem]", "[EventMem]", "[SID]"};
}  // namespace

CEcuT4X::CEcuT4X(CSoftwareInterface* communicationObject, const std::string& parameter,
                 const std::string& objectType, int32_t downloadBaudrate)
    : CEcu(communicationObject) {
    SetCreated(true);
    Iso9141ParameterBlock& block = parameters_.iso9141;
    block.timeouts.singleRequest = kSingleRequestTimeoutMs;
    block.timeouts.upload = kUploadTimeoutMs;
    block.timeouts.download = kDownloadTimeoutMs;
    block.timeouts.job = kJobTimeoutMs;
    block.downloadBaudrate = downloadBaudrate;
    InitIdent(objectType, kProtocol);
    ident_[kIdentString14] = kAddressText;
    uploadData_.header = {"[KOBOLD]", "4.x", "1", UserMailAddress()};
    for (const char* heading : kSectionHeadings) uploadData_.sections.push_back({heading, {}});
    SetPermissions(true, true, true, false);
    if (ParseParameterString(parameter) < 0) SetCreated(false);
}

int32_t CEcuT4X::ParseParameterString(const std::string& text) {
    const std::vector<std::string> tokens = SplitParameterTokens(text);
    if (tokens.empty() || tokens[0] != ObjectType()) return kResultBadParameter;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::size_t equals = tokens[i].find('=');
        if (equals == std::string::npos) return kResultBadParameter;
        const int32_t result =
            SetParameter(tokens[i].substr(0, equals), tokens[i].substr(equals + 1));
        if (result < 0) return result;
    }
    return 0;
}

int32_t CEcuT4X::SetParameter(const std::string& key, const std::string& value) {
    const std::string stripped = StripBlanks(value);
    if (SetServicePermission(key, stripped)) return 0;
    ServiceTimeouts& timeouts = parameters_.iso9141.timeouts;
    const int32_t number = ReadDecimal(stripped);
    if (key == "TIMEOUT_SERVICESINGLEREQUEST") {
        timeouts.singleRequest = number;
    } else if (key == "TIMEOUT_SERVICEUPLOAD") {
        timeouts.upload = number;
    } else if (key == "TIMEOUT_SERVICEDOWNLOAD") {
        timeouts.download = number;
    } else if (key == "TIMEOUT_SERVICEJOB") {
        timeouts.job = number;
    } else if (key == "BAUDRATE_SERVICEDOWNLOAD") {
        parameters_.iso9141.downloadBaudrate = number;
    } else if (key == "USER") {
        uploadData_.header[kHeaderUser] = stripped;
    } else {
        return kResultBadParameter;
    }
    return 0;
}

int32_t CEcuT4X::Connect() {
    if (CommunicationObject() == nullptr) return kResultFailure;
    const int32_t result = ConnectThroughCommunicationObject();
    if (result < 0) return result;
    parameters_ = CommunicationObject()->Parameters();
    return result;
}

bool CEcuT4X::MatchObjectType(const std::string& type) {
    return type == ObjectType();
}

CEcuT40H4::CEcuT40H4(CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuT4X(communicationObject, parameter, kKeyword, kH4DownloadBaud) {}

CEcuT40H5::CEcuT40H5(CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuT4X(communicationObject, parameter, kKeyword, kH5DownloadBaud) {}

CEcuT4XGeneric::CEcuT4XGeneric(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuT4X(communicationObject, parameter, kKeyword, kH4DownloadBaud) {}

}  // namespace diagbridge
