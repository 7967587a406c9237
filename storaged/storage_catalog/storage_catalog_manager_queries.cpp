// The front's chain, retention, replicate job, merge job and time point
// queries. Most only route; the incarnation lookup walks several pools, two
// operations check their texts first, and the two that use a connection's
// temporary tables hold lock_ across their back-end call.
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"

using namespace scat_front;

bool Storage_Catalog_Manager::get_incarnation_info(const Array& requests, Value& result) {
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  if (!guard.locked())
    return false;
  result = Array();
  Array& answers = result.get_ref<Array&>();
  if (on_agent_ && !synchronized_) {
    LOG_ERROR("Local pool has not been synchronized.");
    return false;
  }
  try {
    Impl_Ptr central = on_agent_ ? Impl_Ptr() : default_impl(nullptr);
    for (const Value& request : requests) {
      if (!request.is_object())
        throw JSON_Error("request is not an object");
      const Object& asked = request.get_ref<const Object&>();
      const std::string& pool_uuid = object_get_str_or_throw(asked, "pool_uuid");
      const Array& catalog_uuids = object_get_array_or_throw(asked, "catalog_uuids");
      Impl_Ptr impl = on_agent_ ? stored_impl(pool_uuid) : central;
      if (!impl) {
        LOG_ERROR("Failed to get impl of Storage Catalog Manager.");
        return false;
      }
      if (!impl->get_incarnation_info(pool_uuid, catalog_uuids, answers))
        return false;
    }
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get necessary data: '%s'", e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::get_pool_size(const std::string& pool_uuid, long long& total,
                                            bool include_expired) {
  return on_pool("Failed to get pool size", pool_uuid,
                 [&](Impl& impl) { return impl.get_pool_size(pool_uuid, total, include_expired); });
}

bool Storage_Catalog_Manager::get_pool_size(const std::string& pool_uuid, long long& total,
                                            long long* expired) {
  return on_pool("Failed to get pool size", pool_uuid,
                 [&](Impl& impl) { return impl.get_pool_size(pool_uuid, total, expired); });
}

bool Storage_Catalog_Manager::get_a_expired_set(const std::string& pool_uuid, Array& set,
                                                int keep_count, int retention_days) {
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  if (!guard.locked())
    return false;
  return on_pool("Failed to get expired set", pool_uuid, [&](Impl& impl) {
    return impl.get_a_expired_set(pool_uuid, set, keep_count, retention_days);
  });
}

bool Storage_Catalog_Manager::get_a_deletable_set(const std::string& pool_uuid, Array& set,
                                                  bool skip_warmup, long long skip) {
  return on_pool("Failed to get deletable set", pool_uuid, [&](Impl& impl) {
    return impl.get_a_deletable_set(pool_uuid, set, skip_warmup, skip);
  });
}

bool Storage_Catalog_Manager::is_deletable(const std::string& pool_uuid,
                                           const Array& catalog_uuids) {
  return on_pool("Failed to check deletable sets", pool_uuid,
                 [&](Impl& impl) { return impl.is_deletable(pool_uuid, catalog_uuids); });
}

bool Storage_Catalog_Manager::get_replicate_job_info(long long id, const std::string& pool_uuid,
                                                     Object& out) {
  return on_default("Failed to get replicate job info", kNoReplicate,
                    [&](Impl& impl) { return impl.get_replicate_job_info(id, pool_uuid, out); });
}

bool Storage_Catalog_Manager::get_replicate_job_info(
    const std::map<std::string, std::string>& filter, long long offset, long long limit, Array& out,
    long long* total) {
  return on_default("Failed to get replicate job info", kNoReplicate, [&](Impl& impl) {
    return impl.get_replicate_job_info(filter, offset, limit, out, total);
  });
}

bool Storage_Catalog_Manager::get_replicate_job_statistics_info(const std::string& pool_uuid,
                                                                const std::string* start,
                                                                const std::string* end,
                                                                Object& out) {
  return on_default("Failed to get replicate job statistics info", kNoReplicate, [&](Impl& impl) {
    return impl.get_replicate_job_statistics_info(pool_uuid, start, end, out);
  });
}

bool Storage_Catalog_Manager::get_merge_backup_job_info(const std::string& pool_uuid, long long id,
                                                        Object& out) {
  return on_pool("Failed to get merge backup job info", pool_uuid,
                 [&](Impl& impl) { return impl.get_merge_backup_job_info(pool_uuid, id, out); });
}

bool Storage_Catalog_Manager::get_merge_backup_job_info(Select_SQL& sql, Array& out,
                                                        long long* total) {
  return on_default("Failed to get merge backup job info", kNoMergeBackup,
                    [&](Impl& impl) { return impl.get_merge_backup_job_info(sql, out, total); });
}

bool Storage_Catalog_Manager::get_catalogs_with_incarnation(const std::string& pool_uuid,
                                                            const std::string& catalog_uuid,
                                                            const std::string& incarnation,
                                                            Array& out, bool whole_chain) {
  return on_pool("Failed to get catalogs with incarnation", pool_uuid, [&](Impl& impl) {
    return impl.get_catalogs_with_incarnation(pool_uuid, catalog_uuid, incarnation, out,
                                              whole_chain);
  });
}

bool Storage_Catalog_Manager::get_retry_replicate_jobs(int hours, Array& out) {
  return on_default("Failed to get retry replicate jobs", kNoReplicate,
                    [&](Impl& impl) { return impl.get_retry_replicate_jobs(hours, out); });
}

bool Storage_Catalog_Manager::get_not_replicated_catalogs(const std::string& source_pool_uuid,
                                                          const std::string& target_pool_uuid,
                                                          Array& out) {
  return on_default("Failed to get not replicated catalogs", kNoReplicate, [&](Impl& impl) {
    return impl.get_not_replicated_catalogs(source_pool_uuid, target_pool_uuid, out);
  });
}

bool Storage_Catalog_Manager::get_disaster_restore_time_points(
    const std::map<std::string, std::string>& filter, long long offset, long long limit, Array& out,
    long long* total) {
  return on_default(
      "Failed to get disaster restore time points", kNoDisasterRestore, [&](Impl& impl) {
        return impl.get_disaster_restore_time_points(filter, offset, limit, out, total);
      });
}

bool Storage_Catalog_Manager::get_merge_backup_strategy(const std::string& pool_uuid,
                                                        const std::string& catalog_uuid,
                                                        Object& out) {
  return on_default("Failed to get merge backup strategy", kNoMergeBackup, [&](Impl& impl) {
    return impl.get_merge_backup_strategy(pool_uuid, catalog_uuid, out);
  });
}

bool Storage_Catalog_Manager::get_catalogs(const std::string& pool_uuid,
                                           const std::string& from_uuid, const std::string& to_uuid,
                                           const std::string& group, Array& out) {
  if (pool_uuid.empty()) {
    VRT_LOG_UNEXPECTED("pool_uuid", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  if (from_uuid.empty()) {
    VRT_LOG_UNEXPECTED("from_uuid", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  if (to_uuid.empty()) {
    VRT_LOG_UNEXPECTED("to_uuid", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  if (group.empty()) {
    VRT_LOG_UNEXPECTED("group", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  return on_pool("Failed to get catalogs", pool_uuid, [&](Impl& impl) {
    return impl.get_catalogs(pool_uuid, from_uuid, to_uuid, group, out);
  });
}

bool Storage_Catalog_Manager::update_incarnation(const std::string& pool_uuid,
                                                 const std::string& base_uuid,
                                                 const std::string& incarnation) {
  if (pool_uuid.empty()) {
    VRT_LOG_UNEXPECTED("pool_uuid", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  if (base_uuid.empty()) {
    VRT_LOG_UNEXPECTED("base_uuid", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  if (incarnation.empty()) {
    VRT_LOG_UNEXPECTED("incarnation", VRT_IS_NULL_OR_EMPTY);
    return false;
  }
  return on_pool("Failed to update incarnation", pool_uuid, [&](Impl& impl) {
    return impl.update_incarnation(pool_uuid, base_uuid, incarnation);
  });
}

bool Storage_Catalog_Manager::get_old_catalog(const std::string& pool_uuid,
                                              const std::string& catalog_uuid, Object& out) {
  return on_default("Failed to get old catalog", kNoOldCatalog,
                    [&](Impl& impl) { return impl.get_old_catalog(pool_uuid, catalog_uuid, out); });
}

bool Storage_Catalog_Manager::is_replicate_pool(const std::string& pool_uuid) {
  return on_pool(
      "check replicate pool", pool_uuid,
      [&](Impl& impl) { return impl.is_replicate_pool(pool_uuid); }, false);
}

bool Storage_Catalog_Manager::is_replicated_catalog(const std::string& target_pool_uuid,
                                                    const std::string& catalog_uuid) {
  return on_pool(
      "check replicated catalog", target_pool_uuid,
      [&](Impl& impl) { return impl.is_replicated_catalog(target_pool_uuid, catalog_uuid); },
      false);
}
