// The catalog back-end interface: one catalog database, to which the
// catalog front routes each operation. Operations return true on success
// and write their results into caller-owned out-parameters; none throws.
// A back-end holds no lock of its own; see each implementation for what it
// allows concurrently.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_

#include <string>
#include <vector>

#include "platform/json/json.h"
#include "platform/sql/connection.h"

class Storage_Catalog_Manager_Impl {
 public:
  Storage_Catalog_Manager_Impl();
  virtual ~Storage_Catalog_Manager_Impl();

  // Prepares the database for use. The base does nothing and succeeds.
  virtual bool open();
  // Releases what open took. The base does nothing.
  virtual void close();
  // A connection for one operation; empty when there is no database.
  virtual database::sql::Connection_Ptr get_connection() = 0;

  Storage_Catalog_Manager_Impl(const Storage_Catalog_Manager_Impl&) = delete;
  Storage_Catalog_Manager_Impl& operator=(const Storage_Catalog_Manager_Impl&) = delete;

 protected:
  // The catalog keys that hold uuids: "uuid", "resource_uuid",
  // "incarnation", "pool_uuid", "uid", "host_uuid".
  const std::vector<std::string> uuid_keys_;
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_
