/* A C99 host: the header compiles as C, and the basic calls work from C. Exits 0 when every
 * check holds, and prints the first one that does not. */
#include <stdio.h>
#include <string.h>

#include "zandle/zandle.h"

#define CHECK(cond)                                                  \
  do {                                                               \
    if (!(cond)) {                                                   \
      fprintf(stderr, "c_host.c:%d: failed: %s\n", __LINE__, #cond); \
      return 1;                                                      \
    }                                                                \
  } while (0)

static int collect(void* user, const char* bytes, size_t size) {
  strncat((char*)user, bytes, size);
  return 0;
}

static int twice(zandle_machine* m, void* user) {
  const char* text;
  size_t len;
  char both[256];
  (void)user;
  if (zandle_escape_arg(m, 0, &text, &len) != ZANDLE_OK || len * 2 >= sizeof both) {
    return zandle_escape_fail(m, "BadArgument", 11);
  }
  memcpy(both, text, len);
  memcpy(both + len, text, len);
  return zandle_escape_result(m, 0, both, len * 2);
}

int main(void) {
  static char out[1024];
  zandle_options options;
  zandle_machine* m = NULL;
  const char* script = "New w 'ab'\nNew __Escape_c.twice_ARG0 <w>\nEscape c.twice\n"
                       "New __Escape_std.io.print_ARG0 '__Escape_c.twice_RET0'\nEscape std.io.print\n";
  zandle_place at;

  zandle_options_init(&options);
  options.output = collect;
  options.output_user = out;
  options.escapes = "console";
  CHECK(zandle_new(ZANDLE_ZNDVM, &options, &m) == ZANDLE_OK);
  CHECK(zandle_register_escape(m, "c.twice", 7, twice, NULL) == ZANDLE_OK);
  CHECK(zandle_run(m, script, strlen(script), "c.znd", 5) == ZANDLE_OK);
  CHECK(strcmp(out, "abab\n") == 0);
  CHECK(zandle_run(m, "Escape c.twice\nNew x missing\n", 29, "c.znd", 5) == ZANDLE_FAILED);
  CHECK(strcmp(zandle_error_name(m), "UnknownVariable") == 0);
  CHECK(zandle_where(m, &at) == ZANDLE_OK && at.line == 2);
  CHECK(zandle_run(NULL, "x", 1, NULL, 0) == ZANDLE_INVALID_ARGUMENT);
  zandle_free(m);
  return 0;
}
