#include "ecu/CEcuKalidor.h"

#include "ecu/KwpUploadValues.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge {

CEcuKalidor::CEcuKalidor(CSoftwareInterface* communicationObject, const std::string& keyword,
                         int32_t mode)
    : CEcu(communicationObject) {
    SetCreated(true);
    parameters_.word1 = kBaudrate;
    parameters_.word2 = mode;
    InitIdent(kObjectType, keyword);
}

int32_t CEcuKalidor::AcceptKeyword(const std::string& text, const std::string& keyword) {
    return ParameterKeyword(text) == keyword ? 0 : kResultBadParameter;
}

int32_t CEcuKalidor::Connect() {
    return ConnectThroughCommunicationObject();
}

CEcuKalidorFreeRun::CEcuKalidorFreeRun(CSoftwareInterface* communicationObject,
                                       const std::string& parameter)
    : CEcuKalidor(communicationObject, kKeyword, kModeFreeRun) {
    SetPermissions(false, true, false, false);
    if (ParseParameterString(parameter) < 0) SetCreated(false);
}

std::string CEcuKalidorFreeRun::GetParameterString() {
    return std::string(kKeyword) + "|KALIDOR|" +
           FormatText("SERVICESINGLEREQUEST=%d|SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|SERVICEJOB=%d",
                      SingleRequestAllowed() ? 1 : 0, UploadAllowed() ? 1 : 0,
                      DownloadAllowed() ? 1 : 0, JobAllowed() ? 1 : 0);
}

int32_t CEcuKalidorFreeRun::ParseParameterString(const std::string& text) {
    if (AcceptKeyword(text, kKeyword) < 0) return kResultBadParameter;
    SetIdent(kIdentObjectType, kObjectType);
    SetIdent(kIdentProtocol, kKeyword);
    return 0;
}

CEcuKalidorQuick::CEcuKalidorQuick(CSoftwareInterface* communicationObject,
                                   const std::string& parameter)
    : CEcuKalidor(communicationObject, kKeyword, kModeQuick) {
    SetPermissions(true, false, false, false);
    if (ParseParameterString(parameter) < 0) SetCreated(false);
}

std::string CEcuKalidorQuick::GetParameterString() {
    return std::string(kKeyword) + "|KALIDOR|";
}

int32_t CEcuKalidorQuick::ParseParameterString(const std::string& text) {
    return AcceptKeyword(text, kKeyword);
}

}  // namespace diagbridge
