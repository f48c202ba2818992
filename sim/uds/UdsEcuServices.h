#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "sim/uds/UdsEcuCrc32.h"
#include "sim/uds/UdsEcuProfile.h"
#include "sim/uds/UdsFaultPlan.h"

namespace diagbridge::sim {

// One run of bytes stored by a request download and its transfers.
struct UdsImageSegment {
    uint32_t start = 0;
    uint32_t declaredLength = 0;  // as requested by 34
    std::vector<uint8_t> data;    // as received by 36
    bool closed = false;          // ended by 37
};

// The answer to one request: length bytes in the response buffer; suppressed when the ECU
// must stay silent (suppress-positive-response bit, or a functional request it does not serve).
struct UdsAnswer {
    size_t length = 0;
    bool suppressed = false;
};

// The UDS services of the virtual ECU: 10, 11, 19, 22, 23, 27, 28, 2E, 31, 34, 36, 37, 3E, 85,
// with sessions, security access by the profile's key rules, and the programming sequence
// (erase, download, CRC-32 dependency check) kept as a stored image. Not thread-safe.
class UdsEcuServices {
  public:
    static constexpr uint8_t kDefaultSession = 0x01;
    static constexpr uint8_t kNegativeResponse = 0x7F;
    static constexpr uint8_t kResponsePending = 0x78;
    static constexpr uint32_t kMaxKeyAttempts = 3;

    explicit UdsEcuServices(UdsEcuProfile profile);

    // Answers request (length bytes) into response (capacity bytes, at least 3).
    UdsAnswer Handle(const uint8_t* request, size_t length, bool functional, uint8_t* response,
                     size_t capacity);
    // Writes 7F <service> <code> into response; its length.
    static size_t Negative(uint8_t service, uint8_t code, uint8_t* response);

    void SetDownloadStyle(const UdsDownloadStyle& style) { style_ = style; }
    const UdsEcuProfile& Profile() const { return profile_; }
    uint8_t Session() const { return session_; }
    uint8_t UnlockedLevel() const { return unlockedLevel_; }  // 0: locked
    bool Erased() const { return erased_; }
    const std::vector<UdsImageSegment>& Image() const { return image_; }
    // CRC-32 over every byte stored since the erase, in the order received.
    uint32_t ImageCrc() const;
    uint32_t Resets() const { return resets_; }
    uint8_t CommunicationControl() const { return communicationControl_; }
    uint8_t DtcSetting() const { return dtcSetting_; }
    const std::vector<uint8_t>* Identifier(uint16_t id) const;

  private:
    // Appends to the response buffer; remembers when the response did not fit.
    class Writer {
      public:
        Writer(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
        void Put(uint8_t byte) {
            if (length_ < capacity_) out_[length_] = byte;
            overflow_ = overflow_ || length_ >= capacity_;
            ++length_;
        }
        void Put(const uint8_t* bytes, size_t count) {
            for (size_t i = 0; i < count; ++i) Put(bytes[i]);
        }
        // value as count bytes, most significant first.
        void PutNumber(uint32_t value, size_t count) {
            for (size_t i = count; i > 0; --i) Put(static_cast<uint8_t>(value >> (8 * (i - 1))));
        }
        size_t Length() const { return length_; }
        bool Overflow() const { return overflow_; }

      private:
        uint8_t* out_;
        size_t capacity_;
        size_t length_ = 0;
        bool overflow_ = false;
    };

    uint8_t Dispatch(const uint8_t* request, size_t length, Writer& out);
    uint8_t SessionControl(const uint8_t* request, size_t length, Writer& out);
    uint8_t EcuReset(const uint8_t* request, size_t length, Writer& out);
    uint8_t SecurityAccess(const uint8_t* request, size_t length, Writer& out);
    uint8_t RequestSeed(uint8_t level, size_t length, Writer& out);
    uint8_t SendKey(uint8_t level, const uint8_t* request, size_t length, Writer& out);
    uint8_t ReadData(const uint8_t* request, size_t length, Writer& out);
    uint8_t WriteData(const uint8_t* request, size_t length, Writer& out);
    uint8_t ReadMemory(const uint8_t* request, size_t length, Writer& out);
    uint8_t ReadDtc(const uint8_t* request, size_t length, Writer& out);
    uint8_t ReportDtcs(const uint8_t* request, size_t length, Writer& out);
    uint8_t ReportExtendedData(const uint8_t* request, size_t length, Writer& out);
    uint8_t RoutineControl(const uint8_t* request, size_t length, Writer& out);
    uint8_t Erase(Writer& out);
    uint8_t CheckDependencies(const uint8_t* request, size_t length, Writer& out);
    uint8_t RequestDownload(const uint8_t* request, size_t length, Writer& out);
    uint8_t TransferData(const uint8_t* request, size_t length, Writer& out);
    uint8_t TransferExit(const uint8_t* request, size_t length, Writer& out);
    uint8_t CommunicationControlService(const uint8_t* request, size_t length, Writer& out);
    uint8_t ControlDtcSetting(const uint8_t* request, size_t length, Writer& out);
    uint8_t TesterPresent(const uint8_t* request, size_t length, Writer& out);

    // 0 when programming may run in the current state, else the refusal.
    uint8_t ProgrammingRefusal() const;
    void EnterSession(uint8_t session);
    uint32_t NextSeed(uint8_t bytes);
    uint8_t MemoryByte(uint32_t address) const;
    void AbortDownload();

    UdsEcuProfile profile_;
    std::map<uint16_t, std::vector<uint8_t>> identifiers_;
    uint8_t session_ = kDefaultSession;
    uint8_t unlockedLevel_ = 0;
    uint8_t seedLevel_ = 0;  // level whose seed awaits its key; 0 none
    uint32_t seed_ = 0;
    uint32_t seedState_ = 0x2545F491u;
    uint32_t failedKeys_ = 0;
    bool lockedOut_ = false;
    uint32_t resets_ = 0;
    uint8_t communicationControl_ = 0;
    uint8_t dtcSetting_ = 0x01;
    // Programming.
    bool erased_ = false;
    std::vector<UdsImageSegment> image_;
    UdsDownloadStyle style_;
    bool downloading_ = false;
    uint16_t announcedBlockLength_ = 0;  // in the last request download answer
    uint8_t expectedCounter_ = 1;
    uint32_t crc_ = kEcuCrc32Start;
};

}  // namespace diagbridge::sim
