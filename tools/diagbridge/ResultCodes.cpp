#include "tools/diagbridge/ResultCodes.h"

#include <array>

#include "engine/CSoftwareInterface.h"
#include "kwp2000/CSKwp2000.h"
#include "uds/CSUdsIso14229.h"

namespace diagbridge::cli {

namespace {

struct ResultRow {
    int32_t code;
    const char* name;
    const char* meaning;
    int exitCode;
};

constexpr std::array kResults = {
    ResultRow{kResultCommunication, "COMMUNICATION_FAILURE", "ECU did not answer", kExitNoAnswer},
    ResultRow{kResultConnectionLost, "CONNECTION_LOST",
              "connection lost or ECU is not the model named", kExitConnectionLost},
    ResultRow{kResultBadParameter, "BAD_PARAMETER", "parameter rejected", kExitRejected},
    ResultRow{kResultNotPermitted, "NOT_PERMITTED", "service not permitted for this model",
              kExitNotPermitted},
    ResultRow{kResultTimeout, "TIMEOUT", "service did not finish in time", kExitTimeout},
    ResultRow{kResultAbandoned, "ABANDONED", "wait for the service abandoned", kExitAbandoned},
    ResultRow{kResultFailure, "FAILURE", "adapter or object not available", kExitNoAdapter},
    ResultRow{CSUdsIso14229::kAccessFailed, "ACCESS_FAILED", "ECU refused the diagnostic access",
              kExitRefused},
    ResultRow{kResultHexMalformed, "HEX_MALFORMED", "HEX data does not convert", kExitBadHex},
    ResultRow{CSUdsIso14229::kEraseFailed, "ERASE_FAILED", "ECU did not erase its memory",
              kExitRefused},
    ResultRow{kResultRequestDownloadFailed, "REQUEST_DOWNLOAD_FAILED",
              "ECU refused the download request", kExitRefused},
    ResultRow{kResultTransferDataFailed, "TRANSFER_DATA_FAILED", "data transfer failed",
              kExitRefused},
    ResultRow{kResultTransferExitFailed, "TRANSFER_EXIT_FAILED", "transfer exit failed",
              kExitRefused},
    ResultRow{CSUdsIso14229::kDependencyCheckRefused, "DEPENDENCY_CHECK_REFUSED",
              "ECU refused the programming dependency check", kExitRefused},
    ResultRow{CSUdsIso14229::kDependencyStatusBad, "DEPENDENCY_STATUS_BAD",
              "programming dependencies not met", kExitRefused},
    ResultRow{CSKwp2000::kDateReadFailed, "DATE_READ_FAILED", "programming date not read",
              kExitRefused},
    ResultRow{CSKwp2000::kDateWriteFailed, "DATE_WRITE_FAILED", "programming date not written",
              kExitRefused},
    ResultRow{kResultNegativeResponse, "NEGATIVE_RESPONSE", "ECU refused the request",
              kExitRefused},
    ResultRow{CSKwp2000::kUnexpectedResponse, "UNEXPECTED_RESPONSE", "ECU answered something else",
              kExitRefused},
    ResultRow{CSKwp2000::kKeyRefused, "KEY_REFUSED", "ECU refused the key", kExitRefused},
    ResultRow{CSKwp2000::kDelayNotExpired, "DELAY_NOT_EXPIRED",
              "ECU's security delay has not expired", kExitRefused},
    ResultRow{CSUdsIso14229::kNoSuchAccess, "NO_SUCH_ACCESS", "no such predefined access",
              kExitUsage},
};

const ResultRow* Find(int32_t result) {
    for (const ResultRow& row : kResults) {
        if (row.code == result) return &row;
    }
    return nullptr;
}

}  // namespace

std::string ResultName(int32_t result) {
    if (result >= 0) return "OK";
    const ResultRow* row = Find(result);
    return row != nullptr ? row->name : "ERROR_" + std::to_string(-result);
}

std::string ResultMeaning(int32_t result) {
    if (result >= 0) return "done";
    const ResultRow* row = Find(result);
    return row != nullptr ? row->meaning : "service failed";
}

int ExitCodeFor(int32_t result) {
    if (result >= 0) return kExitOk;
    const ResultRow* row = Find(result);
    return row != nullptr ? row->exitCode : kExitRefused;
}

}  // namespace diagbridge::cli
