#include "ecu/CEcu.h"

#include <cstdio>
#include <utility>

#include "engine/CSoftwareInterface.h"
#include "platform/SystemInfo.h"

namespace diagbridge {

CEcu::CEcu(CSoftwareInterface* communicationObject) : communicationObject_(communicationObject) {}

CEcu::~CEcu() {
    if (communicationObject_ != nullptr) communicationObject_->DetachEcu(this);
}

int32_t CEcu::RunService(ServiceOrder order) {
    if (communicationObject_ == nullptr) return kResultFailure;
    // The order is kept without its HEX text, which may be the size of a whole image.
    std::string hexText = std::exchange(order.hexText, {});
    lastOrder_ = order;
    order.hexText = std::move(hexText);
    const int32_t result = communicationObject_->ExecuteService(std::move(order));
    // A service that did not finish may still be writing: none of its texts are taken.
    lastResult_ = communicationObject_->ServiceCompleted() ? communicationObject_->ResultRecord()
                                                           : ServiceOrder{};
    responseText_ = lastResult_.response;
    return result;
}

int32_t CEcu::ConnectThroughCommunicationObject() {
    if (communicationObject_ == nullptr) return kResultFailure;
    ServiceOrder order;
    order.command = kCommandConnect;
    lastOrder_ = order;
    return communicationObject_->ExecuteService(order, this);
}

void CEcu::SetAddressIdents(uint32_t requestId, uint32_t responseId) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%Xh", static_cast<unsigned>(responseId));
    ident_[kIdentEcuAddress] = text;
    std::snprintf(text, sizeof(text), "0x%Xh", static_cast<unsigned>(requestId));
    ident_[kIdentTesterAddress] = text;
}

void CEcu::InitIdent(const std::string& objectType, const std::string& protocolKeyword) {
    ident_.fill(kUnknownIdent);
    ident_[kIdentObjectType] = objectType;
    ident_[kIdentMaker] = kMakerName;
    ident_[kIdentProtocol] = protocolKeyword;
}

std::string CEcu::ComposeUploadText() {
    std::string text;
    for (const std::string& section :
         {BuildUploadHeader(), BuildDataBlockSection(), BuildMemorySection(), BuildIdentSection(),
          BuildEventMemorySection(), BuildSidSection()}) {
        text += section;
    }
    return text;
}

std::string CEcu::UserMailAddress() {
    return platform::UserName() + "@" + kMailDomain;
}

void CEcu::SetPermissions(bool singleRequest, bool upload, bool download, bool job) {
    singleRequestAllowed_ = singleRequest;
    uploadAllowed_ = upload;
    downloadAllowed_ = download;
    jobAllowed_ = job;
}

bool CEcu::SetServicePermission(const std::string& key, const std::string& value) {
    const bool allowed = value != "0";
    if (key == "SERVICESINGLEREQUEST") {
        singleRequestAllowed_ = allowed;
    } else if (key == "SERVICEUPLOAD") {
        uploadAllowed_ = allowed;
    } else if (key == "SERVICEDOWNLOAD") {
        downloadAllowed_ = allowed;
    } else if (key == "SERVICEJOB") {
        jobAllowed_ = allowed;
    } else {
        return false;
    }
    return true;
}

}  // namespace diagbridge
