#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/SamDiaXBinding.h"

namespace diagbridge {

// What the Kalidor container of the SamDiaX adapter is configured with. The mode is the ECU
// model's mode word (word2 of the configuration), handed over at connect.
struct SamtecKalidorSettings {
    static constexpr int32_t kFreeRun = 4;  // the controller sends by itself
    static constexpr int32_t kQuick = 5;    // woken and questioned
    std::string firmware;                   // SAMTECFIRMWARE: the adapter firmware required
    std::string configFile;                 // SAMTECCONFIGFILE: below the Samtec settings folder
};

// The Kalidor container of the Samtec SamDiaX USB adapter: the adapter frames the Kalidor
// protocol itself. Every operation answers -1 without the control.
class CDCSamtecKalidor : public CDeviceContainer {
  public:
    static constexpr const char* kDescriptionPrefix = "Samtec at USB SamDiaX Version: ";
    static constexpr const char* kNotAvailable = "Samtec SamDiaX not available ";
    static constexpr const char* kWrongFirmware =
        "Wrong Samtec Firmware detected\nRequired Firmware: %s";
    static constexpr const char* kLoadingError = "Loading Error: %s";
    // Environment variable that replaces the common application-data folder.
    static constexpr const char* kDataFolderVariable = "DIAGBRIDGE_SAMTEC_DATA";

    CDCSamtecKalidor(const EcuParameterBlock& configuration, SamtecKalidorSettings settings);

    // Binds the control and makes the start-up settings; always true.
    bool Create() override;
    // Detects the adapter, checks its firmware and loads the configuration file; a wrong
    // firmware or a file that does not load is shown as a message. 0 (-1 without control).
    int32_t DevOpen() override;
    int32_t DevClose() override;
    // By the configuration's mode word: 4 starts listening; 5 starts and runs the Quick
    // hand-shake ("07", then "06" and a piece of its answer). 0; -1 for another mode.
    int32_t DevConnect() override;
    int32_t DevDisconnect() override;
    // The control's result: >= 0 with the response, < 0 failed.
    int32_t DevTransferData(std::string request, std::string& response) override;
    // One frame the controller sent by itself: 0 with it, -1 when none came.
    int32_t DevReceiveData(std::string& response) override;

    // <folder>samtec<sep>Configuration<sep>Settings<sep><file>.
    std::string ConfigurationPath() const;
    // "Error: %d\nErrorType: %d\nMessage: %s" of the last failed transfer.
    const std::string& LastErrorText() const { return lastErrorText_; }
    // The second request of the Quick hand-shake for the first answer.
    static std::string QuickSecondRequest(const std::string& firstAnswer);

  private:
    int32_t Mode() const { return configuration_.word2; }

    SamtecKalidorSettings kalidor_;
    std::unique_ptr<samdiax::SamDiaXBinding> binding_;
    std::string lastErrorText_;
};

}  // namespace diagbridge
