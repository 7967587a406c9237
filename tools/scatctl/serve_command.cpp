// scatctl serve: a host for the library as the storage daemon runs it. The
// service configurator reads the given svc.conf and loads the library's
// service object through its factory; the service opens the catalog front,
// whose reactor timer sends the 30-second usage report to the backup
// daemon its options name. SIGINT or SIGTERM ends the run: the
// configurator's close runs every service's fini, which closes the front
// and its catalog before the process exits.
//
// Signals are blocked before any thread exists, so every thread the
// library starts inherits the mask and only the main thread's sigwait ever
// sees them: no handler runs in the middle of the library's work.
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include <ace/DLL_Manager.h>
#include <ace/Service_Config.h>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_service.h"
#include "tools/scatctl/catalog_location.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/log_sink.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

// The library scatctl itself runs with, made known to the configurator's
// loader under its plain name: a svc.conf naming "storage_catalog" gets
// this very copy, in the build tree as once installed, without a search
// path. A svc.conf naming a file gets that file.
void register_own_library() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&_make_Storage_Catalog_Service), &info) == 0 ||
      info.dli_fname == nullptr)
    return;
  // Already loaded: this only counts one more user of it.
  ACE_SHLIB_HANDLE handle = dlopen(info.dli_fname, RTLD_NOW);
  if (handle != nullptr)
    ACE_DLL_Manager::instance()->open_dll(ACE_TEXT("storage_catalog"), RTLD_NOW, handle);
}

int run_serve(Session& session, const Command_Args& a) {
  if (!a.catalog.empty()) {
    Catalog_Location where = locate_catalog(a.catalog);
    database::Manager::instance()->configure(where.db.name(), where.db);
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  register_own_library();
  // A host's log is its record of what happened: every line goes out.
  Log_Sink::instance().set_echo(true);
  std::string file = a.config;
  ACE_TCHAR program[] = ACE_TEXT("scatctl");
  ACE_TCHAR file_flag[] = ACE_TEXT("-f");
  ACE_TCHAR debug_flag[] = ACE_TEXT("-d");
  ACE_TCHAR* argv[] = {program, file_flag, &file[0], debug_flag, nullptr};
  session.forget_reason();
  // With --verbose the configurator tells what it loads, too.
  int result =
      ACE_Service_Config::open(a.verbose ? 4 : 3, argv, ACE_DEFAULT_LOGGER_KEY, true, true);
  if (result != 0) {
    Failure failure = session.failed("cannot start the services of " + a.config);
    ACE_Service_Config::close();
    throw failure;
  }
  std::printf("scatctl serve: services of %s are running (pid %d); SIGINT or SIGTERM stops them\n",
              a.config.c_str(), static_cast<int>(getpid()));
  std::fflush(stdout);

  int signal_number = 0;
  while (sigwait(&stop, &signal_number) != 0) {
  }
  std::printf("scatctl serve: %s received, finishing the services\n",
              signal_number == SIGINT ? "SIGINT" : "SIGTERM");
  std::fflush(stdout);
  ACE_Service_Config::close();
  database::sql::Legacy_Manager::instance()->close_all();
  std::printf("scatctl serve: stopped\n");
  return EXIT_DONE;
}

}  // namespace

void add_serve_command(Command_Table& table) {
  table.push_back({nullptr, "serve",
                   "Host the library as the daemon does, from a svc.conf, until a signal",
                   "  scatctl serve --config tools/svc.conf.example\n"
                   "  STORAGED_DB_DIR=/tmp/scat scatctl serve --config svc.conf\n",
                   Catalog_Use::NONE, opt::config, run_serve});
}

}  // namespace scatctl
