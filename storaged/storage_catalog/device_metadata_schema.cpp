#include "storaged/storage_catalog/device_metadata_schema.h"

#include <memory>

namespace {

// Uuids are 16-byte binary columns. Paths are text: MySQL indexes their
// first 255 characters, which tells real paths apart. The indexes serve
// the lookups by pool and path, by device and path (files and
// directories), by device and parent (a directory's children) and by path
// alone (which devices hold a path).
const char kFileMySQL[] =
    "CREATE TABLE IF NOT EXISTS `device_metadata_file` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `pool_uuid` binary(16) NOT NULL,"
    "`device_uuid` binary(16) NOT NULL, `path` text NOT NULL, `parent` text,"
    "`size` bigint NOT NULL DEFAULT -1, `grouping` varchar(255) NOT NULL DEFAULT '',"
    "`extended_attrs` longtext, PRIMARY KEY (`id`),"
    "KEY `pool_path` (`pool_uuid`, `path`(255)), KEY `device_path` (`device_uuid`, `path`(255)),"
    "KEY `device_parent` (`device_uuid`, `parent`(255)), KEY `path` (`path`(255))"
    ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;";
const char kFileSQLite[] =
    "CREATE TABLE IF NOT EXISTS `device_metadata_file` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, pool_uuid binary(16) NOT NULL,"
    "device_uuid binary(16) NOT NULL, path text NOT NULL, parent text,"
    "size bigint NOT NULL DEFAULT -1, `grouping` varchar(255) NOT NULL DEFAULT '',"
    "extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_file_pool_path`"
    " ON `device_metadata_file` (pool_uuid, path);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_file_device_path`"
    " ON `device_metadata_file` (device_uuid, path);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_file_device_parent`"
    " ON `device_metadata_file` (device_uuid, parent);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_file_path` ON `device_metadata_file` (path);";

const char kDirMySQL[] =
    "CREATE TABLE IF NOT EXISTS `device_metadata_dir` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `device_uuid` binary(16) NOT NULL,"
    "`path` text NOT NULL, `parent` text, `extended_attrs` longtext, PRIMARY KEY (`id`),"
    "KEY `device_path` (`device_uuid`, `path`(255)),"
    "KEY `device_parent` (`device_uuid`, `parent`(255))"
    ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;";
const char kDirSQLite[] =
    "CREATE TABLE IF NOT EXISTS `device_metadata_dir` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, device_uuid binary(16) NOT NULL,"
    "path text NOT NULL, parent text, extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_dir_device_path`"
    " ON `device_metadata_dir` (device_uuid, path);"
    "CREATE INDEX IF NOT EXISTS `device_metadata_dir_device_parent`"
    " ON `device_metadata_dir` (device_uuid, parent);";

}  // namespace

const database::Metadata* register_device_metadata_schema() {
  static const std::shared_ptr<const database::Metadata> metadata = [] {
    auto m = std::make_shared<database::Metadata>();
    m->add_table("device_metadata_file", false, kFileMySQL, kFileSQLite);
    m->add_table("device_metadata_dir", false, kDirMySQL, kDirSQLite);
    database::Manager::instance()->register_metadata("device_metadata", m);
    return std::shared_ptr<const database::Metadata>(m);
  }();
  return metadata.get();
}
