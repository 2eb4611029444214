// zel-crash-reporter: started by the crash handler of a crashed installer to
// send its crash image and install log; see report/crash_upload.h.
#include "report/crash_upload.h"

int main(int argc, char** argv) {
  return zel::RunCrashReporter(argc, argv);
}
