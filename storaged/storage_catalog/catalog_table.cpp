#include "storaged/storage_catalog/catalog_table.h"

Catalog_Table::Catalog_Table(const std::string& pool_uuid) : name_(pool_uuid) {
  if (!is_pool_uuid(pool_uuid))
    throw std::invalid_argument("'" + pool_uuid + "' is not a pool uuid");
}

bool Catalog_Table::is_pool_uuid(const std::string& name) {
  return name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}
