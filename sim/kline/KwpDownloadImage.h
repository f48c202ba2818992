#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "sim/kline/KwpEcuModel.h"

namespace diagbridge::sim {

// The ECU side of a download: RequestDownload opens it, every TransferData carries one
// complete Intel-HEX record (count, 16-bit address, type, data, checksum) that is checked
// and stored, RequestTransferExit closes it once the end-of-file record came. The bytes
// written stay until the next download opens. Results are 0 (accepted) or the negative
// response code (kwpnrc).
class KwpDownloadImage {
  public:
    // An address or size of RequestDownload that leaves the choice to the ECU.
    static constexpr uint32_t kWholeArea = 0xFFFFFF;

    // Opens a download of at most size bytes from address (24 bit each, kWholeArea for no
    // bound of its own) into regions; the data-format byte must be 00 or FF. Drops the
    // bytes of the previous download.
    uint8_t Begin(uint32_t address, uint8_t format, uint32_t size,
                  const std::vector<KwpAddressRange>& regions);
    // One TransferData payload: record[0 .. length-1].
    uint8_t AddRecord(const uint8_t* record, size_t length);
    // RequestTransferExit: the download is complete when the end-of-file record was stored.
    uint8_t Finish();
    // Ends a running download without completing it (communication stopped).
    void Abandon() { active_ = false; }

    bool Active() const { return active_; }
    bool Complete() const { return complete_; }
    uint32_t RecordCount() const { return records_; }
    uint32_t ByteCount() const { return bytes_; }
    // The written bytes as runs of consecutive addresses, by start address.
    const std::map<uint32_t, std::vector<uint8_t>>& Runs() const { return runs_; }
    // True with count bytes from address when all of them were written.
    bool Read(uint32_t address, size_t count, std::vector<uint8_t>& out) const;

  private:
    uint8_t AddData(uint16_t offset, const uint8_t* data, size_t count);
    bool InsideArea(uint32_t address, uint32_t count) const;
    bool Overlaps(uint32_t address, uint32_t count) const;
    void Store(uint32_t address, const uint8_t* data, size_t count);

    std::vector<KwpAddressRange> regions_;
    uint32_t areaAddress_ = kWholeArea;
    uint32_t areaSize_ = kWholeArea;
    uint32_t base_ = 0;  // from the extended address records
    bool active_ = false;
    bool endSeen_ = false;
    bool complete_ = false;
    uint32_t records_ = 0;
    uint32_t bytes_ = 0;
    std::map<uint32_t, std::vector<uint8_t>> runs_;
};

}  // namespace diagbridge::sim
