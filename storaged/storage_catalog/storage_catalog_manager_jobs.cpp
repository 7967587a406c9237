// The catalog front's part in the consistency check job.
#include "storaged/storage_catalog/consistency_check_executor.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"

bool Storage_Catalog_Manager::check_jobs() {
  return check_consistency_check_job(on_backupd_, on_agent_);
}

bool Storage_Catalog_Manager::add_consistency_check_job() {
  return ::add_consistency_check_job();
}
