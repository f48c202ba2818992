#include "sim/uds/UdsVirtualEcu.h"

#include <algorithm>

#include "platform/ThreadName.h"

namespace diagbridge::sim {

UdsVirtualEcu::UdsVirtualEcu(UdsEcuProfile profile)
    : services_(std::move(profile)),
      flow_(services_.Profile().flow),
      transport_(link_, services_.Profile().ecuAddress, services_.Profile().testerAddress) {}

UdsVirtualEcu::~UdsVirtualEcu() {
    Stop();
}

bool UdsVirtualEcu::Start(const std::string& selector, std::string& error) {
    Stop();
    if (!link_.Open(selector, services_.Profile().bitRate, error)) return false;
    stop_.Reset();
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void UdsVirtualEcu::Stop() {
    running_ = false;
    stop_.Set();
    if (thread_.joinable()) thread_.join();
    link_.Close();
}

void UdsVirtualEcu::SetFaults(const UdsFaultPlan& plan) {
    std::lock_guard lock(mutex_);
    faults_ = plan;
    services_.SetDownloadStyle(plan.download);
}

void UdsVirtualEcu::SetFlow(const UdsFlowSettings& flow) {
    std::lock_guard lock(mutex_);
    flow_ = flow;
}

void UdsVirtualEcu::Inspect(const std::function<void(const UdsEcuServices&)>& look) const {
    std::lock_guard lock(mutex_);
    look(services_);
}

void UdsVirtualEcu::OnAnswered(std::function<void(uint8_t, size_t)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void UdsVirtualEcu::Run() {
    platform::NameThisThread(kThreadName);
    UdsIsoTpServer::Request request;
    while (running_) {
        {
            std::lock_guard lock(mutex_);
            transport_.SetFlow(flow_);
            transport_.SetFaults(faults_.transport);
        }
        if (!transport_.ReceiveRequest(request, kStopCheckMs)) continue;
        ++requests_;
        Answer(request);
    }
}

// After a response-pending series the final answer goes out even when the request asked
// for silence, as ISO 14229 demands; a silent fault after the series leaves the tester
// waiting for it.
void UdsVirtualEcu::Answer(const UdsIsoTpServer::Request& request) {
    const uint8_t service = request.data[0];
    UdsFaultAction action;
    {
        std::lock_guard lock(mutex_);
        action = faults_.OnRequest(service);
    }
    size_t sent = 0;
    if (SendPending(service, action.pendingCount, action.pendingIntervalMs) && !action.silent) {
        UdsAnswer answer;
        {
            std::lock_guard lock(mutex_);
            if (!action.foreignAnswer.empty()) {
                answer.length = std::min(action.foreignAnswer.size(), sizeof(response_));
                std::copy_n(action.foreignAnswer.begin(), answer.length, response_);
            } else if (action.negativeCode >= 0) {
                answer.length = UdsEcuServices::Negative(
                    service, static_cast<uint8_t>(action.negativeCode), response_);
            } else {
                answer = services_.Handle(request.data, request.length, request.functional,
                                          response_, sizeof(response_));
            }
        }
        if (!answer.suppressed || action.pendingCount > 0) {
            transport_.Send(response_, answer.length);
            sent = answer.length;
        }
    }
    std::function<void(uint8_t, size_t)> observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (observer) observer(service, sent);
}

bool UdsVirtualEcu::SendPending(uint8_t service, uint32_t count, uint32_t intervalMs) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t pending[] = {UdsEcuServices::kNegativeResponse, service,
                                   UdsEcuServices::kResponsePending};
        if (!running_ ||
            transport_.Send(pending, sizeof(pending)) != UdsIsoTpServer::SendResult::kSent) {
            return false;
        }
        if (!platform::Clock().SleepMs(intervalMs, &stop_)) return false;
    }
    return true;
}

}  // namespace diagbridge::sim
