#pragma once
#include <cstdint>
#include <string>

#include "ecu/CEcu.h"

namespace diagbridge {

// The Kalidor retarder controllers on the Kalidor stack (CSKalidor). The first two words of
// the parameter block are the line speed (9600) and the mode the containers use to reach
// the controller: 4 it sends frames by itself (free run), 5 it is woken and questioned
// (quick). Object type "KALIDOR"; ident string 12 the model keyword.
class CEcuKalidor : public CEcu {
  public:
    static constexpr int32_t kBaudrate = 9600;
    static constexpr int32_t kModeFreeRun = 4;
    static constexpr int32_t kModeQuick = 5;
    static constexpr const char* kObjectType = "KALIDOR";

    // -7 without communication object; else connect through it.
    int32_t Connect() override;
    int32_t Mode() const { return parameters_.word2; }

  protected:
    CEcuKalidor(CSoftwareInterface* communicationObject, const std::string& keyword, int32_t mode);
    // Checks the first token against keyword; -3 when it differs.
    int32_t AcceptKeyword(const std::string& text, const std::string& keyword);
};

// Free run: upload allowed, single request not.
class CEcuKalidorFreeRun : public CEcuKalidor {
  public:
    static constexpr const char* kKeyword = "KALIDOR_FREE_RUN";
    CEcuKalidorFreeRun(CSoftwareInterface* communicationObject, const std::string& parameter);
    // "KALIDOR_FREE_RUN|KALIDOR|SERVICESINGLEREQUEST=%d|SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|
    // SERVICEJOB=%d".
    std::string GetParameterString() override;
    // The first token must be the keyword (else -3); further tokens are ignored.
    int32_t ParseParameterString(const std::string& text) override;
};

// Quick: single request allowed, upload not.
class CEcuKalidorQuick : public CEcuKalidor {
  public:
    static constexpr const char* kKeyword = "KALIDOR_QUICK";
    CEcuKalidorQuick(CSoftwareInterface* communicationObject, const std::string& parameter);
    // "KALIDOR_QUICK|KALIDOR|".
    std::string GetParameterString() override;
    // The first token must be the keyword (else -3); nothing else is read.
    int32_t ParseParameterString(const std::string& text) override;
};

}  // namespace diagbridge
