#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "ecu/CEcu.h"

namespace diagbridge {

// The T40 transmission controllers on the ISO 9141 line stack (CST40), which writes their
// upload text itself. CEcuT4X holds the behaviour; the leaves differ in their defaults:
// time-outs 500/120000/600000/1000 ms (single request, upload, download, job), download
// speed 9600 (T40H4) or 38400 (T40H5) baud, single request, upload and download allowed.
class CEcuT4X : public CEcu {
  public:
    static constexpr const char* kProtocol = "ISO_9141";
    static constexpr std::size_t kIdentString14 = 14;
    static constexpr std::size_t kHeaderHeading = 0;
    static constexpr std::size_t kHeaderVersion = 1;
    static constexpr std::size_t kHeaderFormat = 2;
    static constexpr std::size_t kHeaderUser = 3;

    // The first token must be the object type and every further one KEY=VALUE (else -3).
    int32_t ParseParameterString(const std::string& text) override;
    // SERVICE* permissions, TIMEOUT_SERVICE* (ms), BAUDRATE_SERVICEDOWNLOAD, USER; else -3.
    int32_t SetParameter(const std::string& key, const std::string& value) override;
    // -7 without communication object; after a successful connect the parameter block comes
    // back from the communication object.
    int32_t Connect() override;
    // True when type is this model's object type.
    bool MatchObjectType(const std::string& type) override;

    const std::string& ObjectType() const { return Ident(kIdentObjectType); }
    const std::string& HeaderText(std::size_t index) const { return uploadData_.header.at(index); }
    // Heading of section 0 "[FRAM]", 1 "[IdentMem]", 2 "[EventMem]", 3 "[SID]".
    const std::string& SectionHeading(std::size_t index) const {
        return uploadData_.sections.at(index).heading;
    }

  protected:
    CEcuT4X(CSoftwareInterface* communicationObject, const std::string& parameter,
            const std::string& objectType, int32_t downloadBaudrate);
};

class CEcuT40H4 : public CEcuT4X {
  public:
    static constexpr const char* kKeyword = "T40H4";
    CEcuT40H4(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuT40H5 : public CEcuT4X {
  public:
    static constexpr const char* kKeyword = "T40H5";
    CEcuT40H5(CSoftwareInterface* communicationObject, const std::string& parameter);
};

// The registry's "T4X" row: a T40 model whose object type is "T4X" (it matches no
// controller, so its connect always ends with -2).
class CEcuT4XGeneric : public CEcuT4X {
  public:
    static constexpr const char* kKeyword = "T4X";
    CEcuT4XGeneric(CSoftwareInterface* communicationObject, const std::string& parameter);
};

}  // namespace diagbridge
