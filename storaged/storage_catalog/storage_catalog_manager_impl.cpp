#include "storaged/storage_catalog/storage_catalog_manager_impl.h"

Storage_Catalog_Manager_Impl::Storage_Catalog_Manager_Impl()
    : uuid_keys_{"uuid", "resource_uuid", "incarnation", "pool_uuid", "uid", "host_uuid"} {}

Storage_Catalog_Manager_Impl::~Storage_Catalog_Manager_Impl() = default;

bool Storage_Catalog_Manager_Impl::open() {
  return true;
}

void Storage_Catalog_Manager_Impl::close() {}
