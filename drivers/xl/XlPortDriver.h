#pragma once
#include <functional>
#include <memory>

#include "drivers/xl/XlApi.h"
#include "drivers/xl/XlPort.h"

namespace diagbridge::xl {

// Makes the port that one xlOpenPort call opens; null with status set when it cannot.
using PortFactory = std::function<std::shared_ptr<XlPort>(XLstatus& status)>;

// The XL entry points over our own port-based sources. Each registered factory gets its own
// table, whose xlOpenPort opens ports from that factory; all other entry points find the port
// by its handle. At most kMaxFactories are registered at once, kMaxPorts ports open at once.
class XlPortDriver {
  public:
    static constexpr size_t kMaxFactories = 32;
    static constexpr size_t kMaxPorts = 64;

    // The table for factory; null when every slot is taken. Release it with ReleaseTable.
    static const XlDriverTable* RegisterFactory(PortFactory factory);
    static void ReleaseTable(const XlDriverTable* table);

    // Blocks until port has an event or ms milliseconds passed; false on time-out.
    static bool WaitForEvent(XLportHandle port, uint32_t ms);
    // The open port behind handle, null if none (tests, the hub, the virtual bus).
    static std::shared_ptr<XlPort> Find(XLportHandle port);
};

}  // namespace diagbridge::xl
