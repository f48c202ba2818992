#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "drivers/xl/XlApi.h"

namespace diagbridge::xl {

// What the CAN channel needs of an XL driver: the entry-point table and, where the source can
// tell, a way to block until an event is queued (our sources; the real library is polled).
struct XlSource {
    std::string selector;  // as given, for example "virtual:bench3" or "so:/opt/xl.so"
    XlDriverTable table{};
    // Blocks until port has an event or ms passed; true when one is. Null: poll the queue.
    bool (*waitForEvent)(XLportHandle port, uint32_t ms) = nullptr;
    std::shared_ptr<void> owner;  // keeps the library or the source's registration alive
};

// Environment variable that selects the source; when unset the installed Vector library on
// Windows, the in-process bus elsewhere.
inline constexpr const char* kXlSourceVariable = "DIAGBRIDGE_XL";
#ifdef _WIN32
inline constexpr const char* kDefaultXlSource = "vxlapi";
#else
inline constexpr const char* kDefaultXlSource = "virtual";
#endif

// The selector from the environment.
std::string XlSourceSelector();

// Loads the source named by selector:
//   "virtual" or "virtual:<bus>"  in-process bus of that name ("" for the default bus)
//   "hub:<path>"                  bus shared between processes through a Unix socket
//   "slcan:<serial device>"       Lawicel/slcan adapter
//   "socketcan:<interface>"       Linux raw CAN socket
//   "so:<path>"                   shared object exporting the XL entry points
//   "vxlapi"                      Windows: the installed Vector XL Driver Library
//   "dll:<path>"                  Windows: a DLL exporting the XL entry points
// Null when it cannot be loaded; failure then names what could not be loaded.
std::shared_ptr<XlSource> LoadXlSource(const std::string& selector, std::string& failure);

}  // namespace diagbridge::xl
