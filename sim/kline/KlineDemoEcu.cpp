#include "sim/kline/KlineDemoEcu.h"

namespace diagbridge::sim {

namespace {
KlineLineOptions LineOptions(const KwpEcuModel& model, const KlineDemoOptions& options) {
    KlineLineOptions line;
    line.wired = options.wired;
    line.ecuAddress = model.ecuAddress;
    line.responseDelayMs = options.responseDelayMs;
    line.testerAddresses = model.testerAddresses;
    line.minRequestGapMs = options.minRequestGapMs;
    line.lineModel = options.lineModel;
    return line;
}
}  // namespace

KlineDemoEcu::KlineDemoEcu(const KwpEcuModel& model, const KlineDemoOptions& options)
    : responder_(model, options.responder), line_(responder_, LineOptions(model, options)) {}

KlineDemoEcu::~KlineDemoEcu() {
    Stop();
}

std::unique_ptr<KlineDemoEcu> KlineDemoEcu::Start(const KlineDemoOptions& options) {
    const KwpEcuModel* model = FindKwpEcuModel(options.model);
    if (model == nullptr) return nullptr;
    std::unique_ptr<KlineDemoEcu> ecu(new KlineDemoEcu(*model, options));
    if (!ecu->line_.Start()) return nullptr;
    return ecu;
}

}  // namespace diagbridge::sim
