#pragma once
#include <memory>
#include <string>

#include "drivers/xl/XlPortDriver.h"
#include "drivers/xl/XlSource.h"

// The loaders behind LoadXlSource, one per kind of source; internal to drivers/xl.
namespace diagbridge::xl {

// A source over our own ports made by factory; null when no table slot is free.
std::shared_ptr<XlSource> MakePortSource(const std::string& selector, PortFactory factory);

#ifdef _WIN32
// vxlapi.dll from its installed place, then from the common documents folder; failure names
// the last path tried.
std::shared_ptr<XlSource> LoadVxlapiSource(const std::string& selector, std::string& failure);
// A DLL at path exporting the entry points.
std::shared_ptr<XlSource> LoadDllSource(const std::string& selector, const std::string& path);
#else
std::shared_ptr<XlSource> LoadHubSource(const std::string& selector, const std::string& path);
std::shared_ptr<XlSource> LoadSlcanSource(const std::string& selector, const std::string& device);
std::shared_ptr<XlSource> LoadSocketCanSource(const std::string& selector,
                                              const std::string& interfaceName);
std::shared_ptr<XlSource> LoadSharedObjectSource(const std::string& selector,
                                                 const std::string& path);
#endif

}  // namespace diagbridge::xl
