#include "kwp2000/KwpDownloadRecords.h"

#include "engine/CConvert.h"
#include "engine/IntelHexReader.h"

namespace diagbridge {

bool ReadKwpDownloadRecords(std::string_view hexText, std::vector<std::string>& records,
                            const std::function<void()>& beforeRecord) {
    records.clear();
    IntelHexReader reader(hexText);
    IntelHexRecord record;
    bool hasData = false;
    for (;;) {
        if (beforeRecord) beforeRecord();
        const IntelHexStep step = reader.Next(record);
        if (step == IntelHexStep::kEnd) break;
        if (step == IntelHexStep::kMalformed || record.bytes.size() > kKwpMaxRecordBytes) {
            records.clear();
            return false;
        }
        hasData = hasData || (record.type == kHexData && !record.data.empty());
        records.push_back(BytesToHexString(record.bytes.data(), record.bytes.size()));
    }
    if (!hasData) records.clear();
    return hasData;
}

}  // namespace diagbridge
