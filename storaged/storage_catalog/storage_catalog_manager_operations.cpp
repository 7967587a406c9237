// The catalog operations of the front that only route: each picks its
// back-end (by pool, or the central "default" one) and forwards the call.
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"

using namespace scat_front;

bool Storage_Catalog_Manager::query_catalog(const std::string& pool_uuid, const Object& filter,
                                            const std::string& order_column, bool ascending,
                                            long long offset, long long limit, Array& rows,
                                            long long* total, bool detail, bool online_only) {
  return on_pool("Failed to query catalog", pool_uuid, [&](Impl& impl) {
    return impl.query_catalog(pool_uuid, filter, order_column, ascending, offset, limit, rows,
                              total, detail, online_only);
  });
}

bool Storage_Catalog_Manager::query_catalog(const std::string& pool_uuid, Select_SQL& sql,
                                            Array& rows, long long* total) {
  return on_pool("Failed to query catalog", pool_uuid,
                 [&](Impl& impl) { return impl.query_catalog(pool_uuid, sql, rows, total); });
}

bool Storage_Catalog_Manager::add_catalog(const std::string& pool_uuid, const Object& catalog) {
  return on_pool("Failed to add catalog", pool_uuid,
                 [&](Impl& impl) { return impl.add_catalog(pool_uuid, catalog); });
}

bool Storage_Catalog_Manager::update_catalog(const std::string& pool_uuid,
                                             const std::string& catalog_uuid,
                                             const Object& values) {
  return on_pool("Failed to update catalog", pool_uuid,
                 [&](Impl& impl) { return impl.update_catalog(pool_uuid, catalog_uuid, values); });
}

bool Storage_Catalog_Manager::remove_catalog(const std::string& pool_uuid,
                                             const std::string& catalog_uuid) {
  return on_pool("Failed to remove catalog", pool_uuid,
                 [&](Impl& impl) { return impl.remove_catalog(pool_uuid, catalog_uuid); });
}

bool Storage_Catalog_Manager::remove_catalogs(const std::string& pool_uuid,
                                              const Array& catalog_uuids, Array& result) {
  return on_pool("Failed to remove catalogs", pool_uuid, [&](Impl& impl) {
    return impl.remove_catalogs(pool_uuid, catalog_uuids, result);
  });
}

bool Storage_Catalog_Manager::add_pool(const Object& pool) {
  return guarded("Failed to add pool", [&] {
    Impl_Ptr impl = locked_impl([&] { return object_get_str(pool, "uuid"); });
    return impl && impl->add_pool(pool);
  });
}

bool Storage_Catalog_Manager::update_pool(const std::string& pool_uuid, const Object& values) {
  return on_pool("Failed to update pool", pool_uuid,
                 [&](Impl& impl) { return impl.update_pool(pool_uuid, values); });
}

bool Storage_Catalog_Manager::remove_pool(const std::string& pool_uuid) {
  return on_pool("Failed to remove pool", pool_uuid,
                 [&](Impl& impl) { return impl.remove_pool(pool_uuid); });
}

bool Storage_Catalog_Manager::query_replicate(const Object& filter, long long offset,
                                              long long limit, Array& rows, long long* total) {
  return on_default("Failed to query replicate", kNoReplicate, [&](Impl& impl) {
    return impl.query_replicate(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::query_replicate(Select_SQL& sql, Array& rows, long long* total) {
  return on_default("Failed to query replicate", kNoReplicate,
                    [&](Impl& impl) { return impl.query(sql, rows, total); });
}

bool Storage_Catalog_Manager::add_replicate(const Object& replicate) {
  return on_default("Failed to add replicate", kNoReplicate,
                    [&](Impl& impl) { return impl.add_replicate(replicate); });
}

bool Storage_Catalog_Manager::update_replicate(const std::string& replicate_uuid,
                                               const Object& replicate) {
  return on_default("Failed to update replicate", kNoReplicate,
                    [&](Impl& impl) { return impl.update_replicate(replicate_uuid, replicate); });
}

bool Storage_Catalog_Manager::remove_replicate(const std::string& replicate_uuid) {
  return on_default("Failed to remove replicate", kNoReplicate,
                    [&](Impl& impl) { return impl.remove_replicate(replicate_uuid); });
}

bool Storage_Catalog_Manager::query_replicate_job(const Object& filter, long long offset,
                                                  long long limit, Array& rows, long long* total) {
  return on_default("Failed to query replicate job", kNoReplicate, [&](Impl& impl) {
    return impl.query_replicate_job(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::query_replicate_job(Select_SQL& sql, Array& rows, long long* total) {
  return on_default("Failed to query replicate job", kNoReplicate,
                    [&](Impl& impl) { return impl.query(sql, rows, total); });
}

bool Storage_Catalog_Manager::add_replicate_job(const Object& job, long long& id) {
  return on_default("Failed to add replicate job", kNoReplicate,
                    [&](Impl& impl) { return impl.add_replicate_job(job, id); });
}

bool Storage_Catalog_Manager::update_replicate_job(long long id, const Object& job) {
  return on_default("Failed to update replicate job", kNoReplicate,
                    [&](Impl& impl) { return impl.update_replicate_job(id, job); });
}

bool Storage_Catalog_Manager::remove_replicate_job(long long id) {
  return on_default("Failed to remove replicate job", kNoReplicate,
                    [&](Impl& impl) { return impl.remove_replicate_job(id); });
}

bool Storage_Catalog_Manager::query_merge_backup_job(const Object& filter, long long offset,
                                                     long long limit, Array& rows,
                                                     long long* total) {
  return on_default("Failed to query merge backup job", kNoMergeBackup, [&](Impl& impl) {
    return impl.query_merge_backup_job(filter, offset, limit, rows, total);
  });
}

bool Storage_Catalog_Manager::add_merge_backup_job(const Object& job, long long& id) {
  return on_default("Failed to add merge backup job", kNoMergeBackup,
                    [&](Impl& impl) { return impl.add_merge_backup_job(job, id); });
}

bool Storage_Catalog_Manager::update_merge_backup_job(long long id, const Object& job) {
  return on_default("Failed to update merge backup job", kNoMergeBackup,
                    [&](Impl& impl) { return impl.update_merge_backup_job(id, job); });
}

bool Storage_Catalog_Manager::remove_merge_backup_job(long long id) {
  return on_default("Failed to remove merge backup job", kNoMergeBackup,
                    [&](Impl& impl) { return impl.remove_merge_backup_job(id); });
}

bool Storage_Catalog_Manager::get_state(const std::string& pool_uuid,
                                        const std::string& catalog_uuid, Catalog_State& state) {
  return on_pool("Failed to get state", pool_uuid,
                 [&](Impl& impl) { return impl.get_state(pool_uuid, catalog_uuid, state); });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid,
                                        const std::string& catalog_uuid, Catalog_State state) {
  return on_pool("Failed to set state", pool_uuid,
                 [&](Impl& impl) { return impl.set_state(pool_uuid, catalog_uuid, state); });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid, const Array& files,
                                        Catalog_State state) {
  return on_pool("Failed to set state", pool_uuid,
                 [&](Impl& impl) { return impl.set_state(pool_uuid, files, state); });
}

bool Storage_Catalog_Manager::set_state(const std::string& pool_uuid, const Array& files,
                                        Catalog_State state, std::set<std::string>& uuids) {
  return on_pool("Failed to set state", pool_uuid,
                 [&](Impl& impl) { return impl.set_state(pool_uuid, files, state, uuids); });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid,
                                          const std::string& catalog_uuid, Catalog_State state) {
  return on_pool("Failed to unset state", pool_uuid,
                 [&](Impl& impl) { return impl.unset_state(pool_uuid, catalog_uuid, state); });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid, const Array& files,
                                          Catalog_State state) {
  return on_pool("Failed to unset state", pool_uuid,
                 [&](Impl& impl) { return impl.unset_state(pool_uuid, files, state); });
}

bool Storage_Catalog_Manager::unset_state(const std::string& pool_uuid, const Array& files,
                                          Catalog_State state, std::set<std::string>& uuids) {
  return on_pool("Failed to unset state", pool_uuid,
                 [&](Impl& impl) { return impl.unset_state(pool_uuid, files, state, uuids); });
}

bool Storage_Catalog_Manager::get_uuids_with_file(const std::string& pool_uuid,
                                                  const std::string& file, Array& out) {
  return on_pool(
      "get uuids with file", pool_uuid,
      [&](Impl& impl) { return impl.get_uuids_with_file(pool_uuid, file, out); }, false);
}

bool Storage_Catalog_Manager::get_uuids_with_files(const std::string& pool_uuid, const Array& files,
                                                   std::set<std::string>& uuids) {
  return on_pool(
      "get uuids with files", pool_uuid,
      [&](Impl& impl) { return impl.get_uuids_with_files(pool_uuid, files, uuids); }, false);
}
