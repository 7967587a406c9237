#include "tools/scatctl/lookups.h"

#include "tools/scatctl/session.h"

namespace scatctl {

bool find_pool(Session& session, const std::string& pool_uuid, Object& pool) {
  Array rows;
  session.forget_reason();
  if (!session.front().query_pool(Object{{"uuid", pool_uuid}}, 0, -1, rows, nullptr))
    throw session.failed("cannot read pool " + pool_uuid);
  if (rows.empty() || !rows.front().is_object())
    return false;
  pool = rows.front().get<Object>();
  return true;
}

Object require_pool(Session& session, const std::string& pool_uuid) {
  Object pool;
  if (!find_pool(session, pool_uuid, pool))
    throw Failure("no pool " + pool_uuid + " in the catalog");
  return pool;
}

bool find_device(Session& session, const std::string& device_uuid, Object& device) {
  Array rows;
  session.forget_reason();
  if (!session.front().query_device(Object{{"uuid", device_uuid}}, 0, -1, rows, nullptr))
    throw session.failed("cannot read device " + device_uuid);
  if (rows.empty() || !rows.front().is_object())
    return false;
  device = rows.front().get<Object>();
  return true;
}

Object require_device(Session& session, const std::string& device_uuid) {
  Object device;
  if (!find_device(session, device_uuid, device))
    throw Failure("no device " + device_uuid + " in the catalog");
  return device;
}

bool find_set(Session& session, const std::string& pool_uuid, const std::string& set_uuid,
              bool detail, Object& set) {
  require_pool(session, pool_uuid);
  Array rows;
  session.forget_reason();
  if (!session.front().query_catalog(pool_uuid, Object{{"uuid", set_uuid}}, "backup_time", false, 0,
                                     -1, rows, nullptr, detail, false))
    throw session.failed("cannot read backup set " + set_uuid);
  if (rows.empty() || !rows.front().is_object())
    return false;
  set = rows.front().get<Object>();
  return true;
}

Object require_set(Session& session, const std::string& pool_uuid, const std::string& set_uuid,
                   bool detail) {
  Object set;
  if (!find_set(session, pool_uuid, set_uuid, detail, set))
    throw Failure("no backup set " + set_uuid + " in pool " + pool_uuid);
  return set;
}

Array all_sets(Session& session, const std::string& pool_uuid) {
  Array rows;
  session.forget_reason();
  if (!session.front().query_catalog(pool_uuid, Object(), "backup_time", true, 0, -1, rows, nullptr,
                                     false, false))
    throw session.failed("cannot read the backup sets of pool " + pool_uuid);
  return rows;
}

}  // namespace scatctl
