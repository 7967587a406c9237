#include "storaged/storage_catalog/catalog_settings.h"

#include <algorithm>
#include <atomic>

#include <ace/OS_NS_dlfcn.h>

#include "platform/common/attribute_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/rpc/json_restful_client.h"

namespace {
std::atomic<int> tape_replicate_retry{5};
std::atomic<int> max_wait_seconds{300};
std::atomic<int> daemon_timeout{0};
}  // namespace

void set_tape_replicate_retry(int count) {
  tape_replicate_retry = count;
}
int get_tape_replicate_retry() {
  return tape_replicate_retry;
}
void set_max_wait_seconds(int seconds) {
  max_wait_seconds = seconds;
}
int get_max_wait_seconds() {
  return max_wait_seconds;
}

void set_daemon_timeout(int seconds) {
  daemon_timeout = seconds < 0 ? 0 : seconds;
}
int get_daemon_timeout(int fallback) {
  const int seconds = daemon_timeout;
  return seconds > 0 ? seconds : fallback;
}
void limit_daemon_wait(JSON_RESTful_Client& client) {
  const int seconds = get_daemon_timeout(60);
  client.set_timeouts(std::min(3, seconds), seconds, seconds);
}

void get_dedup_datadir(std::string& dir) {
  ACE_SHLIB_HANDLE handle =
      ACE_OS::dlopen(ACE_TEXT(ACE_DLL_PREFIX "ddph" ACE_DLL_SUFFIX), ACE_DEFAULT_SHLIB_MODE);
  if (handle == ACE_SHLIB_INVALID_HANDLE)
    return;
  // The symbol is the text itself (a character array), not a pointer to it.
  const char* text = static_cast<const char*>(ACE_OS::dlsym(handle, ACE_TEXT("DEDUP_DATA_DIR")));
  if (text != nullptr)
    dir = text;
  ACE_OS::dlclose(handle);
}

bool get_host_key(std::string& key) {
  Host_Manager* host = Host_Manager::instance();
  std::string found = host->on_backupd() ? Attribute_Manager::instance()->key() : host->key();
  key = std::move(found);
  return !key.empty();
}
