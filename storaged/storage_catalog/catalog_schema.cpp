#include "storaged/storage_catalog/catalog_schema.h"

#include <memory>

namespace {

// Uuids are 16-byte binary columns; JSON columns are text. Numeric columns
// that callers may leave out default to 0 so comparisons never meet NULL.
const char kMySQLEngine[] = ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;";

const char kPoolMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_storage_pool` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `uuid` binary(16) NOT NULL, `name` varchar(1024),"
    "`high_water_mark` bigint DEFAULT 0, `retention_days` int DEFAULT 0, `quoted` int DEFAULT 0,"
    "`state` varchar(64), `on_host` bigint DEFAULT 1, `extended_attrs` longtext,"
    "PRIMARY KEY (`id`), UNIQUE KEY `uuid` (`uuid`)";
const char kPoolSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_storage_pool` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16) NOT NULL UNIQUE, name varchar(1024),"
    "high_water_mark bigint DEFAULT 0, retention_days int DEFAULT 0, quoted int DEFAULT 0,"
    "state varchar(64), on_host bigint DEFAULT 1, extended_attrs text);";

const char kDeviceMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_device` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `uuid` binary(16) NOT NULL, `url` text,"
    "`pool_uuid` binary(16), `extended_attrs` longtext,"
    "PRIMARY KEY (`id`), UNIQUE KEY `uuid` (`uuid`), KEY `pool_uuid` (`pool_uuid`)";
const char kDeviceSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_device` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16) NOT NULL UNIQUE, url text,"
    "pool_uuid binary(16), extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_device_pool_uuid`"
    " ON `storage_catalog_device` (pool_uuid);";

const char kReplicateMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_storage_pool_replicate` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `uuid` binary(16) NOT NULL, `source_uuid` binary(16),"
    "`target_uuid` binary(16), `target_server_uuid` binary(16), `extended_attrs` longtext,"
    "PRIMARY KEY (`id`), UNIQUE KEY `uuid` (`uuid`), KEY `source_uuid` (`source_uuid`),"
    "KEY `target_uuid` (`target_uuid`)";
const char kReplicateSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_storage_pool_replicate` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16) NOT NULL UNIQUE, source_uuid binary(16),"
    "target_uuid binary(16), target_server_uuid binary(16), extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_storage_pool_replicate_source`"
    " ON `storage_catalog_storage_pool_replicate` (source_uuid);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_storage_pool_replicate_target`"
    " ON `storage_catalog_storage_pool_replicate` (target_uuid);";

const char kReplicateJobMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_pool_replicate_job` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `type` varchar(32), `catalog_uuid` binary(16),"
    "`source_pool_uuid` binary(16), `target_pool_uuid` binary(16), `size` bigint,"
    "`storage_size` bigint, `state` varchar(32), `progress` int DEFAULT 0,"
    "`creation_time` datetime, `start_time` datetime, `finish_time` datetime,"
    "`retry` int DEFAULT 0, `extended_attrs` longtext, PRIMARY KEY (`id`),"
    "KEY `pools` (`source_pool_uuid`, `target_pool_uuid`), KEY `catalog_uuid` (`catalog_uuid`)";
const char kReplicateJobSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_pool_replicate_job` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, type varchar(32), catalog_uuid binary(16),"
    "source_pool_uuid binary(16), target_pool_uuid binary(16), size bigint, storage_size bigint,"
    "state varchar(32), progress int DEFAULT 0, creation_time datetime, start_time datetime,"
    "finish_time datetime, retry int DEFAULT 0, extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_pool_replicate_job_pools`"
    " ON `storage_catalog_pool_replicate_job` (source_pool_uuid, target_pool_uuid);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_pool_replicate_job_catalog`"
    " ON `storage_catalog_pool_replicate_job` (catalog_uuid);";

const char kMergeJobMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_merge_backup_job` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `type` varchar(64), `pool_uuid` binary(16),"
    "`incarnation` binary(16), `from_uuid` binary(16), `to_uuid` binary(16),"
    "`minor_resource_id` varchar(256) DEFAULT '', `synthesizer_version` varchar(256) DEFAULT '',"
    "`state` varchar(32), `progress` int DEFAULT 0, `creation_time` datetime,"
    "`start_time` datetime, `end_time` datetime, `extended_attrs` longtext,"
    "PRIMARY KEY (`id`), KEY `pool_uuid` (`pool_uuid`)";
const char kMergeJobSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_merge_backup_job` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, type varchar(64), pool_uuid binary(16),"
    "incarnation binary(16), from_uuid binary(16), to_uuid binary(16),"
    "minor_resource_id varchar(256) DEFAULT '', synthesizer_version varchar(256) DEFAULT '',"
    "state varchar(32), progress int DEFAULT 0, creation_time datetime, start_time datetime,"
    "end_time datetime, extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `storage_catalog_merge_backup_job_pool`"
    " ON `storage_catalog_merge_backup_job` (pool_uuid);";

const char kUsageMySQL[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_pool_usage` ("
    "`pool_uuid` binary(16) NOT NULL, `logical_size` bigint DEFAULT 0,"
    "`physical_size` bigint DEFAULT 0, `catalog_size` bigint DEFAULT 0,"
    "`total_files` bigint DEFAULT 0, `resync_time` bigint DEFAULT 0,"
    "`notify_time` bigint DEFAULT 0, `update_time` bigint DEFAULT 0, PRIMARY KEY (`pool_uuid`)";
const char kUsageSQLite[] =
    "CREATE TABLE IF NOT EXISTS `storage_catalog_pool_usage` ("
    "pool_uuid binary(16) NOT NULL PRIMARY KEY, logical_size bigint DEFAULT 0,"
    "physical_size bigint DEFAULT 0, catalog_size bigint DEFAULT 0, total_files bigint DEFAULT 0,"
    "resync_time bigint DEFAULT 0, notify_time bigint DEFAULT 0, update_time bigint DEFAULT 0);";

// The catalog of older releases, read only.
const char kLegacyMySQL[] =
    "CREATE TABLE IF NOT EXISTS `catalog` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `uuid` binary(16) NOT NULL, `instance_uuid` binary(16),"
    "`agent` varchar(256), `backup_type` varchar(64), `backup_time` datetime, `base_dir` text,"
    "`files` longtext, `size` bigint, `name` varchar(1024), `incarnation` varchar(64),"
    "`state` int DEFAULT 0, PRIMARY KEY (`id`), UNIQUE KEY `uuid` (`uuid`)";
const char kLegacySQLite[] =
    "CREATE TABLE IF NOT EXISTS `catalog` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16) NOT NULL UNIQUE,"
    "instance_uuid binary(16), agent varchar(256), backup_type varchar(64), backup_time datetime,"
    "base_dir text, files text, size bigint, name varchar(1024), incarnation varchar(64),"
    "state int DEFAULT 0);";

// One row per backup set; `incarnation` names the set that starts its chain.
// Retention reads each chain's newest usable set per resource from `chain`
// alone, and finds the sets of a resource at a given time by
// `resource_time`; `chain` also serves every lookup by incarnation.
const char kCatalogMySQL[] =
    "CREATE TABLE IF NOT EXISTS `{{table}}` ("
    "`id` bigint NOT NULL AUTO_INCREMENT, `uuid` binary(16) NOT NULL, `uid` binary(16),"
    "`host_uuid` binary(16), `resource_uuid` binary(16), `incarnation` binary(16),"
    "`pool_uuid` binary(16), `agent` varchar(256), `backup_type` varchar(64),"
    "`backup_time` datetime, `files` longtext, `size` bigint DEFAULT 0, `name` varchar(1024),"
    "`state` int DEFAULT 0, `minor_resource_id` varchar(256), `minor_resource_name` varchar(256),"
    "`extended_attrs` longtext, PRIMARY KEY (`id`), UNIQUE KEY `uuid` (`uuid`),"
    "KEY `chain` (`incarnation`, `resource_uuid`, `minor_resource_id`, `agent`, `state`,"
    "`backup_time`), KEY `resource` (`resource_uuid`, `minor_resource_id`),"
    "KEY `resource_time` (`resource_uuid`, `backup_time`), KEY `backup_time` (`backup_time`)";
const char kCatalogSQLite[] =
    "CREATE TABLE IF NOT EXISTS `{{table}}` ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16) NOT NULL UNIQUE, uid binary(16),"
    "host_uuid binary(16), resource_uuid binary(16), incarnation binary(16), pool_uuid binary(16),"
    "agent varchar(256), backup_type varchar(64), backup_time datetime, files text,"
    "size bigint DEFAULT 0, name varchar(1024), state int DEFAULT 0,"
    "minor_resource_id varchar(256), minor_resource_name varchar(256), extended_attrs text);"
    "CREATE INDEX IF NOT EXISTS `{{table}}_chain` ON `{{table}}` (incarnation, resource_uuid, "
    "minor_resource_id, agent, state, backup_time);"
    "CREATE INDEX IF NOT EXISTS `{{table}}_resource` ON `{{table}}` (resource_uuid, "
    "minor_resource_id);"
    "CREATE INDEX IF NOT EXISTS `{{table}}_resource_time` ON `{{table}}` (resource_uuid, "
    "backup_time);"
    "CREATE INDEX IF NOT EXISTS `{{table}}_backup_time` ON `{{table}}` (backup_time);";

std::shared_ptr<const database::Metadata> build() {
  auto m = std::make_shared<database::Metadata>();
  auto mysql = [](const char* body) { return std::string(body) + kMySQLEngine; };
  m->add_table("storage_catalog_storage_pool", false, mysql(kPoolMySQL), kPoolSQLite);
  m->add_table("storage_catalog_device", false, mysql(kDeviceMySQL), kDeviceSQLite);
  m->add_table("storage_catalog_storage_pool_replicate", false, mysql(kReplicateMySQL),
               kReplicateSQLite);
  m->add_table("storage_catalog_pool_replicate_job", false, mysql(kReplicateJobMySQL),
               kReplicateJobSQLite);
  m->add_table("storage_catalog_merge_backup_job", false, mysql(kMergeJobMySQL), kMergeJobSQLite);
  m->add_table("storage_catalog_pool_usage", false, mysql(kUsageMySQL), kUsageSQLite);
  m->add_table("catalog", false, mysql(kLegacyMySQL), kLegacySQLite);
  m->add_table("catalog_table", true, mysql(kCatalogMySQL), kCatalogSQLite);
  return m;
}

}  // namespace

const database::Metadata* register_catalog_schema() {
  static const std::shared_ptr<const database::Metadata> metadata = [] {
    std::shared_ptr<const database::Metadata> m = build();
    database::Manager::instance()->register_metadata("storage_catalog", m);
    return m;
  }();
  return metadata.get();
}
