// vendor-server --store DIR [--port N] [--online SCRIPT] [--log SCRIPT]
//               [--crash SCRIPT]
//
// Serves the vendor API endpoints on 127.0.0.1, prints the bound port on
// stdout and runs until SIGINT or SIGTERM. A SCRIPT is a comma-separated list
// of answers (see vendor_server.h), one per request, the last repeating.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tools/vendor-server/vendor_server.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vendor-server --store DIR [--port N] [--online SCRIPT] [--log SCRIPT] "
               "[--crash SCRIPT]\n"
               "answers: ok false res1 string nonjson huge never silent drop\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string store;
  long port = 0;
  std::map<std::string, std::vector<std::string>> scripts;
  for (int i = 1; i < argc; i += 2) {
    const std::string key = argv[i];
    if (i + 1 >= argc)
      return Usage();
    const std::string value = argv[i + 1];
    if (key == "--store") {
      store = value;
    } else if (key == "--port") {
      char* end = nullptr;
      port = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || port < 0 || port > 65535)
        return Usage();
    } else if (key == "--online" || key == "--log" || key == "--crash") {
      std::vector<std::string> answers = zel::vendor::ParseScript(value);
      for (const std::string& answer : answers) {
        if (!zel::vendor::IsKnownAnswer(answer)) {
          std::fprintf(stderr, "vendor-server: unknown answer \"%s\"\n", answer.c_str());
          return Usage();
        }
      }
      scripts[key.substr(2)] = answers;
    } else {
      return Usage();
    }
  }
  if (store.empty())
    return Usage();

  // Wait for the stop signals in this thread only.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  zel::vendor::VendorServer server(store);
  for (auto& [endpoint, answers] : scripts)
    server.SetScript(endpoint, answers);
  std::string error;
  if (!server.Start(static_cast<std::uint16_t>(port), &error)) {
    std::fprintf(stderr, "vendor-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  server.Stop();
  std::fprintf(stderr, "vendor-server: stopped after %d requests\n", server.RequestCount());
  return 0;
}
