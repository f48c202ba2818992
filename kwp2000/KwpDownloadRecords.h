#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace diagbridge {

// Largest record a TransferData request carries: 255 frame bytes less the service id.
constexpr std::size_t kKwpMaxRecordBytes = 254;

// The records of a KWP2000 download, in the order of the text: every Intel-HEX record before
// the end record, whole (length byte to checksum) as a hex byte string ("10 80 00 00 ...").
// False, with records empty, for a text that is no Intel-HEX file, holds a record longer
// than kKwpMaxRecordBytes or places no data byte. beforeRecord (may be empty) is called
// before each record is read, so that the caller can keep the line alive on a long text.
bool ReadKwpDownloadRecords(std::string_view hexText, std::vector<std::string>& records,
                            const std::function<void()>& beforeRecord);

}  // namespace diagbridge
