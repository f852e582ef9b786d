/* Runs an untrusted zndvm script in a sandbox: it may print and use one escape of the
 * host's (app.log), and nothing that touches files or processes; it may run at most 100,000
 * instructions and hold at most 1 MiB. However the script ends, the host reports it and
 * goes on.
 *
 *     sandbox SCRIPT
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zandle/zandle.h"

/* app.log: the script's argument 0 goes to the host's log (standard error here). */
static int app_log(zandle_machine* m, void* user) {
  unsigned* lines = (unsigned*)user;
  const char* text;
  size_t len;
  if (zandle_escape_arg(m, 0, &text, &len) != ZANDLE_OK) return zandle_escape_fail(m, "NothingToLog", 12);
  fprintf(stderr, "[log %u] %.*s\n", ++*lines, (int)len, text);
  return 0;
}

static char* read_file(const char* path, size_t* len) {
  FILE* f = fopen(path, "rb");
  char* text = NULL;
  long size;
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    text = malloc((size_t)size + 1);
    if (text != NULL && fread(text, 1, (size_t)size, f) != (size_t)size) {
      free(text);
      text = NULL;
    }
    *len = (size_t)size;
  }
  fclose(f);
  return text;
}

int main(int argc, char** argv) {
  zandle_options options;
  zandle_machine* m;
  zandle_status status;
  zandle_place at;
  unsigned lines = 0;
  size_t len = 0;
  char* script;

  if (argc != 2) {
    fprintf(stderr, "usage: sandbox SCRIPT\n");
    return 2;
  }
  script = read_file(argv[1], &len);
  if (script == NULL) {
    fprintf(stderr, "sandbox: cannot read %s\n", argv[1]);
    return 2;
  }

  zandle_options_init(&options);
  options.escapes = "console";
  options.instruction_cap = 100000;
  options.memory_cap = 1 << 20;
  if (zandle_new(ZANDLE_ZNDVM, &options, &m) != ZANDLE_OK ||
      zandle_register_escape(m, "app.log", 7, app_log, &lines) != ZANDLE_OK) {
    fprintf(stderr, "sandbox: out of memory\n");
    return 1;
  }

  status = zandle_run(m, script, len, argv[1], strlen(argv[1]));
  zandle_where(m, &at);
  switch (status) {
    case ZANDLE_OK:
      printf("sandbox: the script finished\n");
      break;
    case ZANDLE_FAILED:
      printf("sandbox: the script failed with %s at line %u: %.*s\n", zandle_error_name(m), at.line,
             (int)at.text_len, at.text);
      break;
    case ZANDLE_HALTED:
      printf("sandbox: the script was stopped at line %u (%s)\n", at.line,
             zandle_halt_reason(m) == ZANDLE_HALT_INSTRUCTION_CAP ? "instruction cap" : "halt");
      break;
    default:
      printf("sandbox: the script could not run (status %d)\n", (int)status);
      break;
  }
  printf("sandbox: %u lines logged, at most %zu bytes held\n", lines, zandle_memory_peak(m));
  zandle_free(m);
  free(script);
  return 0;
}
