// The catalog operations of the front that only route: each picks its
// back-end (by pool, or the central "default" one) and forwards the call.
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"

#include "platform/runtime/log.h"

using namespace scat_front;

bool Storage_Catalog_Manager::query_catalog(const std::string& pool_uuid, const Object& filter,
                                            const std::string& order_column, bool ascending,
                                            long long offset, long long limit, Array& rows,
                                            long long* total, bool detail, bool online_only) {
  return guarded("query catalog", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->query_catalog(pool_uuid, filter, order_column, ascending, offset, limit,
                                       rows, total, detail, online_only);
  });
}

bool Storage_Catalog_Manager::query_catalog(const std::string& pool_uuid, Select_SQL& sql,
                                            Array& rows, long long* total) {
  return guarded("query catalog", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->query_catalog(pool_uuid, sql, rows, total);
  });
}

bool Storage_Catalog_Manager::add_catalog(const std::string& pool_uuid, const Object& catalog) {
  return guarded("add catalog", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->add_catalog(pool_uuid, catalog);
  });
}

bool Storage_Catalog_Manager::update_catalog(const std::string& pool_uuid,
                                             const std::string& catalog_uuid,
                                             const Object& values) {
  return guarded("update catalog", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->update_catalog(pool_uuid, catalog_uuid, values);
  });
}

bool Storage_Catalog_Manager::remove_catalog(const std::string& pool_uuid,
                                             const std::string& catalog_uuid) {
  return guarded("remove catalog", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->remove_catalog(pool_uuid, catalog_uuid);
  });
}

bool Storage_Catalog_Manager::remove_catalogs(const std::string& pool_uuid,
                                              const Array& catalog_uuids, Array& result) {
  return guarded("remove catalogs", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->remove_catalogs(pool_uuid, catalog_uuids, result);
  });
}

bool Storage_Catalog_Manager::add_pool(const Object& pool) {
  return guarded("add pool", [&] {
    Impl_Ptr impl = locked_impl([&] { return object_get_str(pool, "uuid"); });
    return impl && impl->add_pool(pool);
  });
}

bool Storage_Catalog_Manager::update_pool(const std::string& pool_uuid, const Object& values) {
  return guarded("update pool", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->update_pool(pool_uuid, values);
  });
}

bool Storage_Catalog_Manager::remove_pool(const std::string& pool_uuid) {
  return guarded("remove pool", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->remove_pool(pool_uuid);
  });
}

bool Storage_Catalog_Manager::query_replicate(const Object& filter, long long offset,
                                              long long limit, Array& rows, long long* total) {
  return guarded("query replicate", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->query_replicate(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::query_replicate(Select_SQL& sql, Array& rows, long long* total) {
  return guarded("query replicate", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->query(sql, rows, total);
  });
}

bool Storage_Catalog_Manager::add_replicate(const Object& replicate) {
  return guarded("add replicate", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->add_replicate(replicate);
  });
}

bool Storage_Catalog_Manager::update_replicate(const std::string& replicate_uuid,
                                               const Object& replicate) {
  return guarded("update replicate", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->update_replicate(replicate_uuid, replicate);
  });
}

bool Storage_Catalog_Manager::remove_replicate(const std::string& replicate_uuid) {
  return guarded("remove replicate", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->remove_replicate(replicate_uuid);
  });
}

bool Storage_Catalog_Manager::query_replicate_job(const Object& filter, long long offset,
                                                  long long limit, Array& rows, long long* total) {
  return guarded("query replicate job", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->query_replicate_job(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::query_replicate_job(Select_SQL& sql, Array& rows, long long* total) {
  return guarded("query replicate job", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->query(sql, rows, total);
  });
}

bool Storage_Catalog_Manager::add_replicate_job(const Object& job, long long& id) {
  return guarded("add replicate job", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->add_replicate_job(job, id);
  });
}

bool Storage_Catalog_Manager::update_replicate_job(long long id, const Object& job) {
  return guarded("update replicate job", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->update_replicate_job(id, job);
  });
}

bool Storage_Catalog_Manager::remove_replicate_job(long long id) {
  return guarded("remove replicate job", [&] {
    Impl_Ptr impl = default_impl(kNoReplicate);
    return impl && impl->remove_replicate_job(id);
  });
}

bool Storage_Catalog_Manager::query_merge_backup_job(const Object& filter, long long offset,
                                                     long long limit, Array& rows,
                                                     long long* total) {
  return guarded("query merge backup job", [&] {
    Impl_Ptr impl = default_impl(kNoMergeBackup);
    return impl && impl->query_merge_backup_job(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::add_merge_backup_job(const Object& job, long long& id) {
  return guarded("add merge backup job", [&] {
    Impl_Ptr impl = default_impl(kNoMergeBackup);
    return impl && impl->add_merge_backup_job(job, id);
  });
}

bool Storage_Catalog_Manager::update_merge_backup_job(long long id, const Object& job) {
  return guarded("update merge backup job", [&] {
    Impl_Ptr impl = default_impl(kNoMergeBackup);
    return impl && impl->update_merge_backup_job(id, job);
  });
}

bool Storage_Catalog_Manager::remove_merge_backup_job(long long id) {
  return guarded("remove merge backup job", [&] {
    Impl_Ptr impl = default_impl(kNoMergeBackup);
    return impl && impl->remove_merge_backup_job(id);
  });
}

bool Storage_Catalog_Manager::get_state(const std::string& pool_uuid,
                                        const std::string& catalog_uuid, Catalog_State& state) {
  return guarded("get state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->get_state(pool_uuid, catalog_uuid, state);
  });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid,
                                        const std::string& catalog_uuid, Catalog_State state) {
  return guarded("set state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->set_state(pool_uuid, catalog_uuid, state);
  });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid, const Array& files,
                                        Catalog_State state) {
  return guarded("set state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->set_state(pool_uuid, files, state);
  });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid, const Array& files,
                                        Catalog_State state, std::set<std::string>& uuids) {
  return guarded("set state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->set_state(pool_uuid, files, state, uuids);
  });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid,
                                          const std::string& catalog_uuid, Catalog_State state) {
  return guarded("unset state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->unset_state(pool_uuid, catalog_uuid, state);
  });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid, const Array& files,
                                          Catalog_State state) {
  return guarded("unset state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->unset_state(pool_uuid, files, state);
  });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid, const Array& files,
                                          Catalog_State state, std::set<std::string>& uuids) {
  return guarded("unset state", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    return impl && impl->unset_state(pool_uuid, files, state, uuids);
  });
}

bool Storage_Catalog_Manager::get_uuids_with_file(const std::string& pool_uuid,
                                                  const std::string& file, Array& out) {
  return guarded("get uuids with file", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, false);
    return impl && impl->get_uuids_with_file(pool_uuid, file, out);
  });
}

bool Storage_Catalog_Manager::get_uuids_with_files(const std::string& pool_uuid, const Array& files,
                                                   std::set<std::string>& uuids) {
  return guarded("get uuids with files", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, false);
    return impl && impl->get_uuids_with_files(pool_uuid, files, uuids);
  });
}
