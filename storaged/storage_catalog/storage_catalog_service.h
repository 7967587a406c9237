// The service object through which the daemon's service configurator loads
// this library: init reads the module's options and starts the catalog
// manager, fini closes it and destroys the library's singletons.
//
// The configurator calls init and fini from one thread; the object holds
// no state of its own. It is made by _make_Storage_Catalog_Service and
// deleted through the exterminator that factory hands out.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_SERVICE_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_SERVICE_H_

#include <cstdint>

#include <ace/Service_Object.h>

class Storage_Catalog_Service : public ACE_Service_Object {
 public:
  Storage_Catalog_Service() = default;
  ~Storage_Catalog_Service() override = default;

  // Options: -h <daemon host>, -p <daemon port>, -s (TLS towards the
  // daemon), -r <usage resync seconds; 0 or less means 86400>. Unknown
  // options are logged and skipped. Initialises the manager and, except on
  // an agent, opens it. -1 (logged) when the manager cannot be made or
  // opened.
  int init(int argc, ACE_TCHAR* argv[]) override;
  // Closes the manager and destroys it and the device metadata manager,
  // whether or not init succeeded. Returns 0.
  int fini() override;

  // Option numbers, decimal: an optional '+' (for a signed value also '-')
  // and the digits up to the first other character; no digit gives 0, a
  // value out of range the nearest bound. A '-' in front of a port gives 0.
  static std::uint16_t parse_port(const char* text);
  static int parse_seconds(const char* text);
};

extern "C" ACE_Service_Object* _make_Storage_Catalog_Service(
    ACE_Service_Object_Exterminator* exterminator);

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_SERVICE_H_
