// Adds a pool and a backup set to a fresh catalog and reads the set back,
// through the installed headers and libraries only. Prints "ok" when the
// catalog answered as expected.
#include <cstdio>
#include <string>

#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "storaged/storage_catalog/storage_catalog_service.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: catalog_consumer FOLDER\n");
    return 2;
  }
  const std::string pool = "0123456789abcdef0123456789abcdef";
  const std::string set = "fedcba9876543210fedcba9876543210";
  Storage_Catalog_Manager_Database_Impl catalog(std::string(argv[1]) + "/catalog.db");
  if (!catalog.open() || !catalog.add_pool(Object{{"uuid", pool}, {"name", "consumer"}}))
    return 1;
  Object record{{"uuid", set},
                {"incarnation", set},
                {"backup_type", "FULL"},
                {"backup_time", "2024-05-01 22:00:00"},
                {"state", CST_ONLINE}};
  Array rows;
  if (!catalog.add_catalog(pool, record) ||
      !catalog.query_catalog(pool, Object(), "backup_time", false, 0, -1, rows, nullptr, true,
                             false) ||
      rows.size() != 1 || rows[0].value("uuid", "") != set || !rows[0].value("restorable", false))
    return 1;
  // The service factory the daemon's configurator calls is there too.
  ACE_Service_Object_Exterminator destroy = nullptr;
  ACE_Service_Object* service = _make_Storage_Catalog_Service(&destroy);
  if (service == nullptr || destroy == nullptr)
    return 1;
  destroy(service);
  std::printf("ok\n");
  return 0;
}
