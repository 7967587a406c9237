// Replicate relations: lookups, and their registration on the source side
// and, together with the target pool and its devices, on the target side.
//
// A registration changes several rows. They are written under one
// transaction of this thread's connection (the front's operations lease
// the same one and nest as savepoints), so a failure leaves nothing of it.
// A target pool unknown before is created first, outside the transaction,
// because creating its catalog table ends any open transaction on MySQL;
// when a later step fails it is removed again.
#include <functional>

#include "platform/common/query_string.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"
#include "platform/sql/filter_builder.h"
#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"

using scat_utils::front;
using scat_utils::query_value;

namespace {

// An AND filter on the source (and, when given, the target) pool.
bool replicate_filter(const std::string& source_uuid, const std::string* target_uuid,
                      Object& filter) {
  database::sql::generate_and_filter(filter);
  return database::sql::filter_add_eq_item(filter, "source_uuid", source_uuid) &&
         (target_uuid == nullptr ||
          database::sql::filter_add_eq_item(filter, "target_uuid", *target_uuid));
}

bool query_replicates(const std::string& source_uuid, const std::string* target_uuid, Array& rows) {
  Storage_Catalog_Manager* manager = front();
  Object filter;
  if (manager == nullptr || !replicate_filter(source_uuid, target_uuid, filter) ||
      !manager->query_replicate(filter, 0, -1, rows, nullptr)) {
    LOG_ERROR("Failed to query replicate with source pool uuid '%s'", source_uuid.c_str());
    return false;
  }
  return true;
}

bool copy_single(const Array& rows, Object& replicate) {
  if (rows.size() == 1 && rows[0].is_object())
    replicate = rows[0].get<Object>();
  return true;
}

// Refuses a value that cannot be stored as a uuid column before anything is
// written.
void require_uuid(const Object& record, const char* key) {
  const std::string& text = object_get_str_or_throw(record, key);
  if (!vrt::is_uuid_hex(text))
    throw JSON_Error(std::string("Value of '") + key + "' is not a uuid");
}

// Runs `body` under one transaction of this thread's connection to the
// shared catalog. On a cluster a transaction undone by another node's runs
// again whole, so `body` only writes rows. False, logged, on failure.
bool in_transaction(Storage_Catalog_Manager& manager, const std::string& pool_uuid,
                    const std::function<bool()>& body) {
  database::sql::Connection_Ptr conn = manager.get_connection(pool_uuid);
  database::Transaction_Step failed = database::Transaction_Step::BEGIN;
  if (conn && database::run_in_transaction(conn, body, &failed))
    return true;
  if (failed == database::Transaction_Step::BEGIN)
    LOG_ERROR("Failed to begin transaction.");
  else if (failed == database::Transaction_Step::COMMIT)
    LOG_ERROR("Failed to commit transaction.");
  return false;
}

// Replaces the stored replicate `old_uuid` (may be empty: none) by
// `record`, logged as the source (or target) side does; requires a
// transaction open on this thread.
bool replace_replicate(Storage_Catalog_Manager& manager, const std::string& old_uuid,
                       const Object& record, bool source_side) {
  const std::string& uuid = object_get_str_or_throw(record, "uuid");
  if (!old_uuid.empty() && !manager.remove_replicate(old_uuid)) {
    if (source_side)
      LOG_ERROR("Failed to remove replicate(uuid: %s).", old_uuid.c_str());
    else
      LOG_ERROR("Failed to remove replicate(%s).", old_uuid.c_str());
    return false;
  }
  if (!manager.add_replicate(record)) {
    if (source_side)
      LOG_ERROR("Failed to add replicate(uuid: %s) to database.", uuid.c_str());
    else
      LOG_ERROR("Failed to add replicate '%s'.", uuid.c_str());
    return false;
  }
  return true;
}

// The devices of a target pool, checked whole before any is written.
void check_target_devices(const Array& devices) {
  int masters = 0;
  for (const Value& device : devices) {
    if (!device.is_object())
      throw JSON_Error("Array 'devices' holds " + std::string(json_type_name(device)) +
                       ", not an object");
    const Object& fields = device.get_ref<const Object&>();
    require_uuid(fields, "uuid");
    std::string role = Storage_Catalog_Utils::get_device_role(fields);
    if (role.empty())
      throw JSON_Error("Unknown device role");
    if (role == "master" && ++masters > 1)
      throw JSON_Error("More than one master device");
  }
}

// The target pool's record from the request's "target".
bool target_pool_record(const Object& target, Object& record) {
  update_json_partial(target, record, "uuid", "name", "high_water_mark", "retention_days",
                      "extended_attrs");
  require_uuid(record, "uuid");
  Value& attrs = record["extended_attrs"];
  if (attrs.is_null())
    attrs = Object();
  if (!attrs.is_object())
    throw JSON_Error("Value of 'extended_attrs' is not an object");
  const std::string* scheme = object_get_str(target, "encryption");
  if (scheme == nullptr || scheme->empty())
    return true;
  Object info;
  update_json_partial(target, info, "encryption", "key", "iv");
  std::string encoded;
  if (!Storage_Catalog_Utils::encode_encryption(info, encoded)) {
    LOG_ERROR("Failed to encode encryption.");
    return false;
  }
  attrs["encryption"] = encoded;
  return true;
}

// The replicate stored between the two pools: its uuid into `old_uuid`
// when there is exactly one.
bool stored_replicate(Storage_Catalog_Manager& manager, const std::string& source,
                      const std::string& target, std::string& old_uuid) {
  Object filter;
  Array rows;
  if (!common::parse_query_string(
          "source_uuid=" + query_value(source) + "&target_uuid=" + query_value(target), filter) ||
      !manager.query_replicate(filter, 0, -1, rows, nullptr)) {
    LOG_ERROR("Failed to query replicate with source_uuid '%s' and target_uuid '%s'",
              source.c_str(), target.c_str());
    return false;
  }
  if (rows.size() == 1)
    old_uuid = json_pointer_str(rows[0], "/uuid");
  return true;
}

// The writes of a target registration, all under one transaction; the
// pool is only updated here when `is_new` is false (it was created
// before).
bool write_target_rows(Storage_Catalog_Manager& manager, const Object& pool, bool is_new,
                       const Array& devices, const std::string& old_uuid, const Object& record) {
  try {
    return in_transaction(manager, object_get_str_or_throw(pool, "uuid"), [&] {
      if (!is_new && !Storage_Catalog_Utils::add_pool(pool, true)) {
        LOG_ERROR("Failed to add target pool info.");
        return false;
      }
      for (const Value& device : devices)
        if (!Storage_Catalog_Utils::add_device_with_check(device.get_ref<const Object&>()))
          return false;
      return replace_replicate(manager, old_uuid, record, false);
    });
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add replicate: %s", e.what());
    return false;
  }
}

}  // namespace

bool Storage_Catalog_Utils::get_replicates(const std::string& source_uuid, Array& replicates) {
  Array rows;
  if (!query_replicates(source_uuid, nullptr, rows))
    return false;
  for (Value& row : rows)
    replicates.push_back(std::move(row));
  return true;
}

bool Storage_Catalog_Utils::get_replicate(const std::string& source_uuid, Object& replicate) {
  Array rows;
  return query_replicates(source_uuid, nullptr, rows) && copy_single(rows, replicate);
}

bool Storage_Catalog_Utils::get_replicate(const std::string& source_uuid,
                                          const std::string& target_uuid, Object& replicate) {
  Array rows;
  return query_replicates(source_uuid, &target_uuid, rows) && copy_single(rows, replicate);
}

bool Storage_Catalog_Utils::is_source_replicate_pool(const std::string& pool_uuid) {
  Array rows;
  return query_replicates(pool_uuid, nullptr, rows) && rows.size() == 1;
}

bool Storage_Catalog_Utils::get_target_pool(const std::string& source_uuid,
                                            std::string& target_uuid) {
  Object replicate;
  if (!get_replicate(source_uuid, replicate))
    return false;
  if (replicate.empty())
    return true;
  const std::string* target = object_get_str(replicate, "target_uuid");
  if (target == nullptr) {
    LOG_ERROR("Failed to get target_uuid of replicate with source pool uuid '%s'",
              source_uuid.c_str());
    return false;
  }
  target_uuid = *target;
  return true;
}

bool Storage_Catalog_Utils::add_replicate(const Object& replicate) {
  try {
    require_uuid(replicate, "uuid");
    const std::string& source = object_get_str_or_throw(replicate, "source_uuid");
    const std::string& target = object_get_str_or_throw(replicate, "target_uuid");
    require_uuid(replicate, "source_uuid");
    require_uuid(replicate, "target_uuid");
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr)
      return false;
    Object filter;
    if (!replicate_filter(source, &target, filter)) {
      LOG_ERROR(
          "Failed to create filter to get replicate between source(uuid: %s) and "
          "target(uuid: %s).",
          source.c_str(), target.c_str());
      return false;
    }
    Array rows;
    if (!manager->query_replicate(filter, 0, -1, rows, nullptr)) {
      LOG_ERROR("Failed to query replicate between source(uuid: %s) and target(uuid: %s).",
                source.c_str(), target.c_str());
      return false;
    }
    std::string old_uuid;
    if (!rows.empty()) {
      if (rows.size() != 1) {
        VRT_LOG_UNEXPECTED("result.size()", "!= 1");
        return false;
      }
      old_uuid = json_pointer_str(rows[0], "/uuid");
    }
    return in_transaction(*manager, source,
                          [&] { return replace_replicate(*manager, old_uuid, replicate, true); });
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add replicate: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::add_replicate_with_target(const Object& request) {
  try {
    const Object& target = object_get_object_or_throw(request, "target");
    const Array& devices = object_get_array_or_throw(request, "devices");
    const Object& info = object_get_object_or_throw(request, "info");
    Object pool;
    if (!target_pool_record(target, pool))
      return false;
    check_target_devices(devices);
    const std::string& pool_uuid = object_get_str_or_throw(pool, "uuid");
    Object record;
    require_uuid(info, "uuid");
    require_uuid(info, "source_uuid");
    update_json_partial(info, record, "uuid", "source_uuid", "extended_attrs");
    record["target_uuid"] = pool_uuid;
    const std::string& source = object_get_str_or_throw(record, "source_uuid");

    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr)
      return false;
    std::string old_uuid;
    if (!stored_replicate(*manager, source, pool_uuid, old_uuid))
      return false;
    // Only a pool known to be absent may be removed again on failure.
    Array known;
    if (!manager->query_pool(database::sql::generate_eq_item("uuid", pool_uuid), 0, -1, known,
                             nullptr)) {
      LOG_ERROR("Failed to query pool(uuid: %s).", pool_uuid.c_str());
      return false;
    }
    bool is_new = known.empty();
    if (is_new && !add_pool(pool, true)) {
      LOG_ERROR("Failed to add target pool info.");
      return false;
    }
    if (write_target_rows(*manager, pool, is_new, devices, old_uuid, record))
      return true;
    if (is_new && !manager->remove_pool(pool_uuid))
      LOG_ERROR("Failed to remove pool '%s' added for the replicate.", pool_uuid.c_str());
    return false;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add replicate: %s", e.what());
    return false;
  }
}
