// The sample catalog of `scatctl demo`: three pools (a file pool whose
// backup sets are real files on disk, a deduplicating pool that receives
// replicas of one resource, and an object-storage archive), and eight
// weeks of backup chains of four resources written with the library's
// front, as a backup daemon would have written them.
#ifndef TOOLS_SCATCTL_DEMO_CATALOG_H_
#define TOOLS_SCATCTL_DEMO_CATALOG_H_

#include <string>
#include <vector>

#include "platform/json/json.h"

class Storage_Catalog_Manager;

namespace scatctl {

struct Demo_Pool {
  const char* uuid;
  const char* name;
  const char* kind;  // "file", "dedup", "object storage"
  int retention_days;
};

struct Demo_Resource {
  const char* uuid;
  const char* name;
  const char* agent;
  const char* minor_resource_id;  // the VM's id for the VM agent, else ""
  const char* plan;               // the backup types, see demo_catalog.cpp
};

// The pools and resources of the sample, in the order the demo shows them.
const std::vector<Demo_Pool>& demo_pools();
const std::vector<Demo_Resource>& demo_resources();
const Demo_Pool& demo_pool(const char* name);

// The numbers the walk-through quotes.
struct Demo_Facts {
  int sets = 0;              // backup sets written in all pools
  int files = 0;             // files made on disk for the file pool
  long long file_bytes = 0;  // their bytes
  std::string offline_set;   // the set the demo marks offline
  std::string broken_chain;  // its chain
};

// Writes the sample into the open catalog `front` and the file pool's
// data under `folder`/pools. Raises a Failure when the library refuses a
// record.
Demo_Facts build_demo_catalog(Storage_Catalog_Manager& front, const std::string& folder);

// "2024-05-01 22:00:00" for `days_ago` days before now at `hour`, UTC.
std::string demo_time(int days_ago, int hour);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_DEMO_CATALOG_H_
