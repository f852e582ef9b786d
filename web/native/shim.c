/* The glue between the web package's JavaScript and the C interface. JavaScript calls the
 * interface's functions directly; only what needs a C function pointer or the layout of
 * zandle_options goes through here. The callbacks are functions of the JavaScript side,
 * imported by the module; `user_data` carries a number that names the machine or the escape
 * there. */
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "zandle/zandle.h"

#define IMPORT(name) __attribute__((import_module("zandle"), import_name(#name)))

IMPORT(write) int zandle_js_write(void* user_data, const char* bytes, size_t size);  /* 0: written */
IMPORT(read) long zandle_js_read(void* user_data, char* buffer, size_t capacity);
IMPORT(escape) int zandle_js_escape(zandle_machine* machine, void* user_data);
IMPORT(sleep) void zandle_js_sleep(double milliseconds);

/* Sleeping (std.misc.sleep) is the JavaScript side's: the C library can only spin, while a
 * host may block without burning a core where it can (Atomics.wait). Linked in place of
 * nanosleep by --wrap. */
int __wrap_nanosleep(const struct timespec* request, struct timespec* remaining) {
  if (remaining != NULL) remaining->tv_sec = remaining->tv_nsec = 0;
  zandle_js_sleep((double)request->tv_sec * 1000.0 + (double)request->tv_nsec / 1e6);
  return 0;
}

#define EXPORT __attribute__((used, visibility("default")))

/* A host's output function that threw is an input/output failure, by this C library's number. */
static int write_output(void* user_data, const char* bytes, size_t size) {
  return zandle_js_write(user_data, bytes, size) == 0 ? 0 : EIO;
}

/* A machine of this module's kind (each module holds one interpreter) whose output and input
 * go to the JavaScript side under `id`, with the caps and preset given. A cap of 0 is none. */
EXPORT zandle_status zandle_web_new(uint32_t id, uint64_t instruction_cap, size_t memory_cap,
                                    const char* preset, zandle_machine** out) {
  zandle_options options;
  zandle_options_init(&options);
  options.output = write_output;
  options.output_user = (void*)(uintptr_t)id;
  options.input = zandle_js_read;
  options.input_user = (void*)(uintptr_t)id;
  options.instruction_cap = instruction_cap;
  options.memory_cap = memory_cap;
  options.escapes = preset;
#ifdef ZANDLE_WEB_VM
  return zandle_new_vm(&options, out);
#else
  return zandle_new_zndvm(&options, out);
#endif
}

/* Registers a host escape written in JavaScript, known there by `id`, or removes it. */
EXPORT zandle_status zandle_web_register(zandle_machine* machine, const char* name, size_t name_len, uint32_t id,
                                         int remove) {
  return zandle_register_escape(machine, name, name_len, remove ? NULL : zandle_js_escape, (void*)(uintptr_t)id);
}

/* Memory for the texts JavaScript passes in and the results it reads back. */
EXPORT void* zandle_web_alloc(size_t size) { return malloc(size ? size : 1); }
EXPORT void zandle_web_release(void* p) { free(p); }
