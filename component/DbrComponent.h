#pragma once
#include <memory>
#include <vector>

#include "component/CCommandInterface.h"
#include "component/ICommandInterfaceEvents.h"

// The object behind a C handle. The sinks are declared first so that they outlive the
// component: its teardown may still fire events from a service being stopped.
struct DbrComponent {
    DbrComponent() = default;
    explicit DbrComponent(diagbridge::ObjectRegistry registry) : component(std::move(registry)) {}

    std::vector<std::unique_ptr<diagbridge::ICommandInterfaceEvents>> sinks;
    diagbridge::CCommandInterface component;
};
