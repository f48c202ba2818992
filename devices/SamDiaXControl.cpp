#include "devices/SamDiaXControl.h"

#include "drivers/samtec/SamDiaXSubstitute.h"

namespace diagbridge::samdiax {

namespace {
ControlMaker& Maker() {
    static ControlMaker maker = [] {
        return std::shared_ptr<ISamControl>(samtec::SamDiaXSubstitute::FromEnvironment());
    };
    return maker;
}
}  // namespace

int32_t AsInt(const SamValue& value) {
    if (const auto* number = std::get_if<int32_t>(&value)) return *number;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag ? 1 : 0;
    return 0;
}

bool AsBool(const SamValue& value) {
    return AsInt(value) != 0;
}

std::string AsText(const SamValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return {};
}

std::shared_ptr<ISamObject> AsObject(const SamValue& value) {
    if (const auto* object = std::get_if<std::shared_ptr<ISamObject>>(&value)) return *object;
    return nullptr;
}

std::shared_ptr<ISamControl> CreateControl() {
    return Maker() ? Maker()() : nullptr;
}

ScopedControlMaker::ScopedControlMaker(ControlMaker maker) : previous_(std::move(Maker())) {
    Maker() = std::move(maker);
}

ScopedControlMaker::~ScopedControlMaker() {
    Maker() = std::move(previous_);
}

}  // namespace diagbridge::samdiax
