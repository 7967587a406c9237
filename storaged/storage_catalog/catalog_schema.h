// The catalog's tables, registered with the database layer under the name
// "storage_catalog": the shared tables, created when a connection opens,
// and the template "catalog_table" from which each pool's catalog table is
// made under the pool's uuid.
#ifndef STORAGED_STORAGE_CATALOG_CATALOG_SCHEMA_H_
#define STORAGED_STORAGE_CATALOG_CATALOG_SCHEMA_H_

#include "platform/sql/metadata.h"

// Registers the metadata on first use and returns it. Thread-safe.
const database::Metadata* register_catalog_schema();

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_SCHEMA_H_
