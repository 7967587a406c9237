// The device and pool operations of the front. On an agent they find the
// pool's back-end under the manager's lock and keep the set of local
// catalogs in step with the devices: a device names the local directory of
// its pool on each attached host.
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"

#include <exception>
#include <stdexcept>

#include "platform/runtime/log.h"

namespace {

// The pool uuid a caller's statement filters on, as the string value of the
// top-level item comparing `key`; null when there is none.
const std::string* filter_uuid(const database::sql::Select_SQL& sql, const std::string& key) {
  const database::sql::Filter_SQL* filter = sql.where().and_filter();
  if (filter == nullptr) {
    VRT_LOG_UNEXPECTED("filter", VRT_IS_NULL);
    return nullptr;
  }
  const database::sql::Item_SQL* item = filter->find_kv_item(key);
  if (item == nullptr || !item->value().is_string())
    return nullptr;
  return &item->value().get_ref<const std::string&>();
}

// This host's entry in the device's "extended_attrs"."attached_hosts".
// Required: a missing or mistyped member raises JSON_Error. Otherwise null
// when the entry is absent.
const std::string* attached_dir(const Object& device, const std::string& host_key, bool required) {
  if (required) {
    const Object& attrs = object_get_object_or_throw(device, "extended_attrs");
    const Object& hosts = object_get_object_or_throw(attrs, "attached_hosts");
    return &object_get_str_or_throw(hosts, host_key);
  }
  const Object* attrs = object_get_object(device, "extended_attrs");
  const Object* hosts = attrs == nullptr ? nullptr : object_get_object(*attrs, "attached_hosts");
  if (hosts == nullptr || hosts->find(host_key) == hosts->end())
    return nullptr;
  return &object_get_str_or_throw(*hosts, host_key);
}

std::string text_or_empty(const std::string* text) {
  return text == nullptr ? std::string() : *text;
}

}  // namespace

using scat_front::guarded;

bool Storage_Catalog_Manager::query_device(const Object& filter, long long offset, long long limit,
                                           Array& rows, long long* total) {
  return guarded("Failed to query device", [&] {
    Impl_Ptr impl = locked_impl([&] { return object_get_str(filter, "pool_uuid"); });
    return impl && impl->query_device(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::query_device(Select_SQL& sql, Array& rows, long long* total) {
  return guarded("Failed to query device", [&] {
    Impl_Ptr impl = locked_impl([&] { return filter_uuid(sql, "pool_uuid"); });
    return impl && impl->query(sql, rows, total);
  });
}

bool Storage_Catalog_Manager::add_device(const Object& device, const std::string* pool_uuid) {
  std::string pool_text = text_or_empty(pool_uuid);
  try {
    Impl_Ptr impl = locked_impl([&]() -> const std::string* {
      if (pool_uuid == nullptr)
        pool_uuid = &object_get_str_or_throw(device, "pool_uuid");
      pool_text = *pool_uuid;
      const std::string* dir = attached_dir(device, host_key_, true);
      if (!insert_into_map(*pool_uuid, *dir))
        throw std::runtime_error("Failed to insert pool " + *pool_uuid +
                                 " to storage catalog manager map");
      return pool_uuid;
    });
    return impl && impl->add_device(device);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed add device of pool %s, %s", pool_text.c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::update_device(const std::string& device_uuid, const Object& device) {
  std::string pool_uuid = text_or_empty(object_get_str(device, "pool_uuid"));
  bool detached = false;
  try {
    Impl_Ptr impl = locked_impl([&]() -> const std::string* {
      pool_uuid = object_get_str_or_throw(device, "pool_uuid");
      const std::string* dir = attached_dir(device, host_key_, false);
      if (dir == nullptr)
        detached = true;
      else if (!is_local_dir(*dir))
        throw std::runtime_error("Failed to get storage catalog manager by local pool " +
                                 pool_uuid);
      return &pool_uuid;
    });
    if (impl && impl->update_device(device_uuid, device)) {
      impl.reset();
      if (detached)
        erase_out_of_map(pool_uuid, false, nullptr);
      return true;
    }
    LOG_ERROR("Failed to update device %s of pool %s", device_uuid.c_str(), pool_uuid.c_str());
    return false;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed update device %s, %s", device_uuid.c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::remove_device(const std::string& device_uuid, const Object* device) {
  std::string pool_uuid;
  std::string dir;
  try {
    Impl_Ptr impl = locked_impl([&]() -> const std::string* {
      if (device == nullptr)
        throw std::runtime_error("Expect device info of local pool");
      pool_uuid = object_get_str_or_throw(*device, "pool_uuid");
      dir = *attached_dir(*device, host_key_, true);
      return &pool_uuid;
    });
    if (!impl || !impl->remove_device(device_uuid))
      return false;
    impl.reset();
    if (on_agent_)
      erase_out_of_map(pool_uuid, true, &dir);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed remove device %s, %s", device_uuid.c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::query_pool(const Object& filter, long long offset, long long limit,
                                         Array& rows, long long* total) {
  return guarded("Failed to query pool", [&] {
    Impl_Ptr impl = locked_impl([&] { return object_get_str(filter, "uuid"); });
    if (impl)
      return impl->query_pool(filter, offset, limit, rows, total);
    return merge_local_pools(
        [&](Impl& local, Array& found, long long& count) {
          return local.query_pool(filter, 0, -1, found, &count);
        },
        rows, total);
  });
}

bool Storage_Catalog_Manager::query_pool(Select_SQL& sql, Array& rows, long long* total) {
  return guarded("Failed to query pool", [&] {
    Impl_Ptr impl = locked_impl([&] { return filter_uuid(sql, "uuid"); });
    if (impl)
      return impl->query(sql, rows, total);
    Select_SQL unpaged = sql;
    unpaged.offset(0).limit(-1);
    return merge_local_pools([&](Impl& local, Array& found,
                                 long long& count) { return local.query(unpaged, found, &count); },
                             rows, total);
  });
}

bool Storage_Catalog_Manager::merge_local_pools(
    const std::function<bool(Impl&, Array&, long long&)>& query, Array& rows, long long* total) {
  if (!on_agent_)
    return false;
  for (const Impl_Ptr& impl : all_impls()) {
    Array found;
    long long count = 0;
    if (!query(*impl, found, count))
      continue;
    rows.insert(rows.end(), std::make_move_iterator(found.begin()),
                std::make_move_iterator(found.end()));
    if (total != nullptr)
      *total += count;
  }
  return true;
}
