#include "storaged/storage_catalog/storage_catalog_service.h"

#include <climits>
#include <exception>
#include <new>
#include <string>

#include <ace/Get_Opt.h>

#include "platform/rpc/host_manager.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"

namespace {

const int kDefaultResyncSeconds = 86400;

// The digits at `text` as a magnitude, stopping at `limit`.
unsigned long long read_digits(const char* text, unsigned long long limit) {
  unsigned long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + static_cast<unsigned>(*text - '0');
    if (value > limit)
      return limit;
  }
  return value;
}

}  // namespace

std::uint16_t Storage_Catalog_Service::parse_port(const char* text) {
  if (text == nullptr || *text == '-')
    return 0;
  if (*text == '+')
    ++text;
  return static_cast<std::uint16_t>(read_digits(text, UINT16_MAX));
}

int Storage_Catalog_Service::parse_seconds(const char* text) {
  if (text == nullptr)
    return 0;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+')
    ++text;
  // A large negative number is still a negative one: it must not turn into
  // the largest interval.
  unsigned long long limit = negative ? static_cast<unsigned long long>(INT_MAX) + 1
                                      : static_cast<unsigned long long>(INT_MAX);
  unsigned long long magnitude = read_digits(text, limit);
  return negative ? static_cast<int>(-static_cast<long long>(magnitude))
                  : static_cast<int>(magnitude);
}

int Storage_Catalog_Service::init(int argc, ACE_TCHAR* argv[]) {
  try {
    std::string host;
    std::uint16_t port = 0;
    bool ssl = false;
    int resync = kDefaultResyncSeconds;
    ACE_Get_Opt options(argc, argv, ACE_TEXT("h:p:sr:t:"), 0, 0, ACE_Get_Opt::PERMUTE_ARGS, 0);
    for (int c; (c = options()) != EOF;) {
      switch (c) {
        case 0:
          break;
        case 'h':
          host = options.opt_arg();
          break;
        case 'p':
          port = parse_port(options.opt_arg());
          break;
        case 's':
          ssl = true;
          break;
        case 'r':
          resync = parse_seconds(options.opt_arg());
          break;
        case 't':
          set_daemon_timeout(parse_seconds(options.opt_arg()));
          break;
        default:
          LOG_ERROR("Unknown Storage_Catalog_Service option: '%s'.", options.last_option());
          break;
      }
    }
    Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance();
    if (manager == nullptr) {
      LOG_ERROR("Failed to create storage catalog manager.");
      return -1;
    }
    manager->init(host, port, ssl);
    manager->set_usage_resync_interval(resync > 0 ? resync : kDefaultResyncSeconds);
    // An agent opens once it can reach the daemon, from the daemon code
    // that calls open.
    if (manager->on_agent())
      return 0;
    if (!manager->open()) {
      LOG_ERROR("Failed to open storage catalog manager.");
      return -1;
    }
    return 0;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to init Storage_Catalog_Service: %s", e.what());
    return -1;
  }
}

int Storage_Catalog_Service::fini() {
  if (Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance())
    manager->close();
  Storage_Catalog_Manager::close_instance();
  Device_Metadata_Manager::close_instance();
  return 0;
}

namespace {

void destroy_service(void* p) {
  ACE_Service_Object* _p = static_cast<ACE_Service_Object*>(p);
  ACE_ASSERT(_p != 0);
  delete _p;
}

}  // namespace

extern "C" ACE_Service_Object* _make_Storage_Catalog_Service(
    ACE_Service_Object_Exterminator* exterminator) {
  if (exterminator != nullptr)
    *exterminator = &destroy_service;
  return new (std::nothrow) Storage_Catalog_Service;
}
