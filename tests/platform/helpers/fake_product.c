/* Stands in for the product's main executable in tests. It records how it
 * was started (user, folder, arguments) in $ZEL_TEST_REPORT, written beside
 * and renamed into place so a reader never sees half a report, then ends
 * with $ZEL_TEST_EXIT_CODE, or, built with ZEL_SLEEP_FOREVER, never ends. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void Report(int argc, char** argv) {
  const char* report = getenv("ZEL_TEST_REPORT");
  if (report == NULL || *report == '\0')
    return;
  char tmp[4200];
  snprintf(tmp, sizeof(tmp), "%s.%ld.tmp", report, (long)getpid());
  FILE* f = fopen(tmp, "w");
  if (f == NULL)
    return;
  char cwd[4096];
  fprintf(f, "uid=%u\n", (unsigned)getuid());
  fprintf(f, "cwd=%s\n", getcwd(cwd, sizeof(cwd)) != NULL ? cwd : "?");
  const char* home = getenv("HOME");
  fprintf(f, "home=%s\n", home != NULL ? home : "");
  for (int i = 1; i < argc; ++i)
    fprintf(f, "arg=%s\n", argv[i]);
  if (fclose(f) == 0)
    rename(tmp, report);
}

int main(int argc, char** argv) {
  Report(argc, argv);
#ifdef ZEL_SLEEP_FOREVER
  for (;;)
    pause();
#else
  const char* code = getenv("ZEL_TEST_EXIT_CODE");
  return code != NULL ? atoi(code) : 0;
#endif
}
