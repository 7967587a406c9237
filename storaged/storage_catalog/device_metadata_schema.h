// The device metadata tables, registered with the database layer under the
// name "device_metadata": one row per file ("device_metadata_file") and
// one per directory ("device_metadata_dir") of each device, created when a
// connection to the database opens.
#ifndef STORAGED_STORAGE_CATALOG_DEVICE_METADATA_SCHEMA_H_
#define STORAGED_STORAGE_CATALOG_DEVICE_METADATA_SCHEMA_H_

#include "platform/sql/metadata.h"

// Registers the metadata on first use and returns it. Thread-safe.
const database::Metadata* register_device_metadata_schema();

#endif  // STORAGED_STORAGE_CATALOG_DEVICE_METADATA_SCHEMA_H_
