#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ecu/AccessStep.h"
#include "ecu/EcuParameterBlock.h"
#include "engine/ServiceOrder.h"

namespace diagbridge {

class CSoftwareInterface;

// The upload layout of a model and the values read during an upload.
struct UploadData {
    static constexpr std::size_t kTableSize = 300;
    struct Section {
        std::string heading;
        std::vector<std::string> lines;
    };
    std::vector<std::string> header;  // "[KOBOLD]", format version, format type, mail address
    std::vector<Section> sections;
    std::array<std::string, kTableSize> identTable;
    std::array<std::string, kTableSize> eventTable;
    std::vector<std::string> memoryLines;  // memory read by an upload, one response a line
};

// One controller model on one communication object. The model holds addresses, timing,
// permissions, access tables and upload layout; the protocol stack does the talking.
class CEcu {
  public:
    static constexpr std::size_t kIdentFields = 20;
    static constexpr std::size_t kIdentObjectType = 1;
    static constexpr std::size_t kIdentMaker = 10;
    static constexpr std::size_t kIdentProtocol = 12;
    // Fields the protocols' identification fills.
    static constexpr std::size_t kIdentHardware = 2;
    static constexpr std::size_t kIdentSerialNumber = 3;
    static constexpr std::size_t kIdentProductionDate = 4;
    static constexpr std::size_t kIdentSoftware = 5;
    static constexpr std::size_t kIdentDataset = 6;
    static constexpr std::size_t kIdentOemId = 7;
    static constexpr std::size_t kIdentOemSet = 8;
    static constexpr std::size_t kIdentLoader = 9;
    static constexpr std::size_t kIdentObject = 11;
    static constexpr std::size_t kIdentEcuAddress = 13;
    static constexpr std::size_t kIdentTesterAddress = 14;
    static constexpr std::size_t kMaxAccessSteps = 256;
    static constexpr const char* kUnknownIdent = "XXXXX";
    static constexpr const char* kMakerName = "ORLAN";
    // Domain of the user's mail address in upload headers.
    static constexpr const char* kMailDomain = "diagbridge.local";

    explicit CEcu(CSoftwareInterface* communicationObject);
    // Detaches from the communication object first, so nothing keeps a pointer to it.
    virtual ~CEcu();
    CEcu(const CEcu&) = delete;
    CEcu& operator=(const CEcu&) = delete;

    virtual std::string GetParameterString() { return {}; }
    virtual int32_t ParseParameterString(const std::string& /*text*/) { return 0; }
    virtual int32_t SetDefaults() { return 0; }
    virtual int32_t SetParameter(const std::string& /*key*/, const std::string& /*value*/) {
        return 0;
    }
    virtual std::string BuildUploadHeader() { return {}; }
    virtual std::string BuildDataBlockSection() { return {}; }
    virtual std::string BuildMemorySection() { return {}; }
    virtual std::string BuildIdentSection() { return {}; }
    virtual std::string BuildEventMemorySection() { return {}; }
    virtual std::string BuildSidSection() { return {}; }
    virtual std::string BuildUploadText() { return {}; }
    // Copies the parameters into the communication object and runs connect; -1 in the base
    // (a model without its own connect cannot be connected).
    virtual int32_t Connect() { return -1; }
    virtual bool MatchObjectType(const std::string& /*objectType*/) { return true; }
    virtual int32_t InitPredefinedAccess() { return 0; }
    virtual std::string GetSeedRequest() { return {}; }
    virtual std::string BuildAccessRequest(const AccessStep& /*step*/,
                                           const std::string& /*response*/) {
        return {};
    }
    // Writes the ident fields ECU and TESTER ("0x%Xh") from the CAN identifiers in force,
    // as the model's ECU= and TESTER= options name them (GetParameterString writes the same
    // values). The base: ECU is the identifier the ECU answers on, TESTER the one it hears.
    virtual void SetAddressIdents(uint32_t requestId, uint32_t responseId);
    // The key request for a seed in a diagnostic mode; empty when there is none.
    virtual std::string GetKeyRequest(int32_t /*diagnosticMode*/, int32_t /*seed*/) { return {}; }

    // Runs one order on the communication object and keeps its result record (empty when the
    // service did not finish, e.g. -5); returns the service result (-7 without a
    // communication object).
    int32_t RunService(ServiceOrder order);

    bool IsConnected() const { return connected_.load(); }
    void SetConnected(bool connected) { connected_.store(connected); }
    bool IsCreated() const { return created_; }
    bool SingleRequestAllowed() const { return singleRequestAllowed_; }
    bool UploadAllowed() const { return uploadAllowed_; }
    bool DownloadAllowed() const { return downloadAllowed_; }
    bool JobAllowed() const { return jobAllowed_; }
    CSoftwareInterface* CommunicationObject() const { return communicationObject_; }
    // Called when the communication object is destroyed before this ECU object.
    void ForgetCommunicationObject() { communicationObject_ = nullptr; }

    const std::string& ResponseText() const { return responseText_; }
    // Texts as the services write them on the worker; the client reads LastResult().
    const std::string& UploadText() const { return uploadText_; }
    const std::string& IdentText() const { return identText_; }
    const ServiceOrder& LastResult() const { return lastResult_; }
    const ServiceOrder& LastOrder() const { return lastOrder_; }
    EcuParameterBlock& Parameters() { return parameters_; }
    const std::string& Ident(std::size_t field) const { return ident_.at(field); }
    void SetIdent(std::size_t field, const std::string& value) { ident_.at(field) = value; }
    void SetUploadText(const std::string& text) { uploadText_ = text; }
    UploadData& Upload() { return uploadData_; }
    // The predefined-access table: entries 0..AccessCount()-1; null outside.
    int32_t AccessCount() const { return accessCount_; }
    AccessStep* Access(int32_t index) {
        return index >= 0 && index < accessCount_ ? &accessTable_[static_cast<std::size_t>(index)]
                                                  : nullptr;
    }
    void SetIdentText(const std::string& text) { identText_ = text; }

  protected:
    // The connect every model shares: copy the parameter block, attach, run command 2.
    int32_t ConnectThroughCommunicationObject();
    // Fills the ident record: objectType, "XXXXX" for the unknown values, maker, protocol.
    void InitIdent(const std::string& objectType, const std::string& protocolKeyword);
    // Appends the non-empty upload sections in their order.
    std::string ComposeUploadText();
    // User name, at sign and the fixed mail domain.
    static std::string UserMailAddress();
    void SetCreated(bool created) { created_ = created; }
    void SetPermissions(bool singleRequest, bool upload, bool download, bool job);
    // The keys SERVICESINGLEREQUEST, SERVICEUPLOAD, SERVICEDOWNLOAD, SERVICEJOB: "0" forbids,
    // any other value allows. False for any other key.
    bool SetServicePermission(const std::string& key, const std::string& value);

    EcuParameterBlock parameters_;
    ServiceOrder lastResult_;
    ServiceOrder lastOrder_;
    std::array<std::string, kIdentFields> ident_;
    std::vector<std::string> stringList_;
    UploadData uploadData_;
    std::string uploadText_;
    std::string identText_;
    std::string responseText_;
    bool singleRequestAllowed_ = false;
    bool uploadAllowed_ = false;
    bool downloadAllowed_ = false;
    bool jobAllowed_ = false;
    std::array<AccessStep, kMaxAccessSteps> accessTable_;
    int32_t accessCount_ = 0;

  private:
    CSoftwareInterface* communicationObject_;
    std::atomic<bool> connected_{false};
    bool created_ = false;
};

}  // namespace diagbridge
