// Brondex.exe: a stand-in for the product's main program. It accepts what
// the installer passes ("/install" with " /add_plan", " /ID:<id>", " /new ",
// " /time:<seconds> ", or " --installmode"), appends what it received to
// Brondex.log beside itself and ends at once.
//
// BRONDEX_LINGER_MS in the environment makes it wait that long first, for
// tests of the installer's bounded wait.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

std::string Folder() {
  std::string self = zel::platform::WideToUtf8(zel::platform::ModuleFileName());
  std::size_t slash = self.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  // The installer may hand the switches over as one command line or as
  // separate arguments: both read the same once split at blanks.
  std::string received;
  for (int i = 1; i < argc; ++i) {
    if (i > 1)
      received += ' ';
    received += argv[i];
  }
  std::vector<std::string> words;
  std::istringstream split(received);
  for (std::string word; split >> word;)
    words.push_back(word);

  bool install = false;
  bool add_plan = false;
  bool is_new = false;
  bool install_mode = false;
  std::string id;
  std::string seconds;
  std::vector<std::string> unknown;
  for (const std::string& word : words) {
    if (word == "/install") {
      install = true;
    } else if (word == "/add_plan") {
      add_plan = true;
    } else if (word == "/new") {
      is_new = true;
    } else if (word == "--installmode") {
      install_mode = true;
    } else if (word.rfind("/ID:", 0) == 0) {
      id = word.substr(4);
    } else if (word.rfind("/time:", 0) == 0) {
      seconds = word.substr(6);
    } else {
      unknown.push_back(word);
    }
  }

  std::ostringstream line;
  line << "received \"" << received << "\":";
  if (install) {
    line << " install add_plan=" << add_plan << " id=" << (id.empty() ? "-" : id)
         << " new=" << is_new << " time=" << (seconds.empty() ? "-" : seconds);
  }
  if (install_mode)
    line << " installmode";
  for (const std::string& word : unknown)
    line << " unknown(" << word << ")";
  std::ofstream(Folder() + "/Brondex.log", std::ios::app) << line.str() << "\n";
  std::printf("%s\n", line.str().c_str());

  if (const char* linger = std::getenv("BRONDEX_LINGER_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(linger)));
  }
  return unknown.empty() && (install || install_mode) ? 0 : 2;
}
