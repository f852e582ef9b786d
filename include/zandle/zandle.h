/* SPDX-License-Identifier: MIT
 * Copyright (c) The Zandle authors */
/* Zandle: the C interface for programs that embed the interpreters.
 *
 * A host creates a machine (vm, the release interpreter, or zndvm, its successor), runs
 * script texts on it, reads and sets its variables, registers escapes of its own, and learns
 * how each run ended and where it stopped. Every function returns a status or a plain value;
 * nothing ever throws, aborts or exits the process, and every call that may allocate can
 * report ZANDLE_OUT_OF_MEMORY. Texts are a pointer and a length and may hold any bytes.
 *
 *     zandle_machine* m;
 *     if (zandle_new(ZANDLE_ZNDVM, NULL, &m) != ZANDLE_OK) return 1;
 *     zandle_run(m, text, strlen(text), "hello.znd", 9);
 *     zandle_free(m);
 *
 * With no options, or options whose `escapes` is NULL, a machine runs under the "sandbox"
 * preset: its scripts cannot touch files, start or wait for processes, change the working
 * directory, end the process or control the terminal, and read no standard input. A host
 * opts into more by naming "console" or "all".
 *
 * Memory: a machine owns everything it allocates and takes it through its own allocation
 * function (malloc and free unless the host gives one), within its own cap.
 *
 * Views: a text the API hands out points into the machine and is never freed by the host.
 * Each has storage of its own (reading one never changes another), and it stays valid
 *   - from zandle_get_text: until that variable is set again (by the host or a script), the
 *     machine runs again (zandle_run, zandle_call) or it is freed;
 *   - from zandle_escape_arg: until the escape returns;
 *   - from zandle_error_name, zandle_where and zandle_active_call: until the machine runs
 *     again or is freed;
 *   - from zandle_version: always.
 *
 * Threads: distinct machines on distinct threads are independent; they share nothing that
 * is not synchronised. One machine is used by one thread at a time: a host that hands a
 * machine to another thread orders the two itself (a mutex, a join), and every callback runs
 * on the thread that called zandle_run or zandle_call. No call is safe on a machine another
 * thread is using, but zandle_interrupt (see Keeping control). Machines that read the
 * process's standard input (no input function, preset "console" or "all") share one reader
 * of it, which hands each line whole to exactly one of them. What the escapes of "all" change
 * is the process's, and so every thread's: the working directory, child processes.
 *
 * Callbacks (output, input, allocation, host escapes) must return to the library: a C host
 * must not longjmp out of one, and a C++ host must not let an exception leave one
 * (zandle.hpp catches those of its host escapes and fails the run as HostException).
 */
#ifndef ZANDLE_H
#define ZANDLE_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZANDLE_SHARED_BUILD)
#define ZANDLE_API __attribute__((visibility("default")))
#else
#define ZANDLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, written here once: the build, the package files and
 * zandle_version() take it from these lines. */
#define ZANDLE_VERSION_MAJOR 0
#define ZANDLE_VERSION_MINOR 4
#define ZANDLE_VERSION_PATCH 0

typedef struct zandle_machine zandle_machine;

/* In C++ the enumerations take every int, as they do in C, so that any value a C caller
 * passes is one the library may receive and refuse. */
#ifdef __cplusplus
#define ZANDLE_ENUM(name) enum name : int
#else
#define ZANDLE_ENUM(name) enum name
#endif

/* The two interpreters. Their languages differ (see `vm docs` and `zndvm docs`). */
typedef ZANDLE_ENUM(zandle_kind) { ZANDLE_VM = 1, ZANDLE_ZNDVM = 2 } zandle_kind;

typedef ZANDLE_ENUM(zandle_status) {
  ZANDLE_OK = 0,               /* done; for a run: it finished */
  ZANDLE_FAILED = 1,           /* the run failed: zandle_error_name() names the failure */
  ZANDLE_HALTED = 2,           /* the run ended the process's way: zandle_halt_reason() */
  ZANDLE_OUT_OF_MEMORY = 3,    /* the call itself could not get the memory it needed */
  ZANDLE_INVALID_ARGUMENT = 4, /* a null handle or pointer, an unknown preset or name */
  ZANDLE_NOT_FOUND = 5,        /* no such variable */
  ZANDLE_WRONG_TYPE = 6,       /* the variable holds another type of value */
  ZANDLE_UNSUPPORTED = 7,      /* not available on this kind of machine */
  ZANDLE_BUSY = 8,             /* the machine is running (called from inside an escape), or
                                  a run is paused (zandle_run, zandle_call) */
  ZANDLE_PAUSED = 9,           /* the run stopped between two instructions: zandle_resume */
  ZANDLE_INVALID_SNAPSHOT = 10 /* bytes that are no snapshot of a machine of this kind */
} zandle_status;

/* What ended a halted run. The first six are vm's budgets. */
typedef ZANDLE_ENUM(zandle_halt) {
  ZANDLE_HALT_NONE = 0,
  ZANDLE_HALT_INSTRUCTIONS = 1,     /* vm: the budget of all instructions */
  ZANDLE_HALT_NEW = 2,              /* vm: the New budget */
  ZANDLE_HALT_ESCAPE = 3,           /* vm: the Escape budget */
  ZANDLE_HALT_FUNC = 4,             /* vm: the budget Func and If share */
  ZANDLE_HALT_CALL = 5,             /* vm: the Call budget */
  ZANDLE_HALT_RETURN = 6,           /* vm: the Return budget */
  ZANDLE_HALT_INSTRUCTION_CAP = 7,  /* the host's instruction cap */
  ZANDLE_HALT_CALL_STACK = 8,       /* calls nested past call_depth_max */
  ZANDLE_HALT_EXIT = 9              /* an escape that ends the process (vm's Exit) */
} zandle_halt;

/* The type of a zndvm value; every vm value is text. */
typedef ZANDLE_ENUM(zandle_type) {
  ZANDLE_WORD = 0, /* unsigned 64-bit */
  ZANDLE_SWORD = 1, /* signed 64-bit */
  ZANDLE_FLOAT = 2, /* double */
  ZANDLE_STR = 3   /* bytes */
} zandle_type;

/* Writes all `size` bytes and returns 0; any other value is a failure of the write, which
 * fails the run: an errno value when there is one (vm names it: EPIPE is BrokenPipe), else
 * any non-zero number. It is not a count of bytes: a function that returns what write(2)
 * returns reports every write as a failure. */
typedef int (*zandle_write_fn)(void* user_data, const char* bytes, size_t size);
/* Reads up to `capacity` bytes: the number read, 0 at the end of the input, negative on a
 * failure. */
typedef long (*zandle_read_fn)(void* user_data, char* buffer, size_t capacity);
/* Allocation in the realloc style: new_size 0 frees `ptr` (of old_size bytes) and returns
 * NULL; otherwise a block of new_size bytes holding the first old_size bytes of `ptr` (when
 * not NULL), aligned as malloc aligns, or NULL when there is none. old_size is always exact. */
typedef void* (*zandle_alloc_fn)(void* user_data, void* ptr, size_t old_size, size_t new_size);
/* A host escape: returns 0 when done, or the value of zandle_escape_fail(); it may also pass
 * on the status of a call that failed: ZANDLE_OUT_OF_MEMORY fails the run as OutOfMemory.
 * It must return: never longjmp or throw out of it. */
typedef int (*zandle_escape_fn)(zandle_machine* machine, void* user_data);

/* Options for a new machine. Fill them with zandle_options_init, then change what the host
 * needs. struct_size must be the size of a layout this library knows, this one's or 0.4.0's
 * (which ends before call_depth_max), else zandle_new refuses the options; the fields a
 * shorter layout lacks take their defaults, so a host built against 0.4.0's header keeps
 * working (with the changed defaults the README lists). */
typedef struct zandle_options {
  size_t struct_size;          /* sizeof(zandle_options), set by zandle_options_init */
  zandle_write_fn output;      /* NULL: zndvm writes to standard output, vm to standard error */
  void* output_user;
  zandle_read_fn input;        /* NULL: the process's standard input under "console" and "all";
                                  under "sandbox" nothing (scripts see the end of input) */
  void* input_user;
  uint64_t instruction_cap;    /* instructions a run may execute; 0: no cap (vm keeps its budgets) */
  size_t memory_cap;           /* bytes the machine may hold at once; 0: no cap */
  zandle_alloc_fn alloc;       /* NULL: malloc, realloc and free */
  void* alloc_user;
  const char* escapes;         /* the escapes scripts may use: "sandbox" (NULL means this;
                                  nothing that touches files, processes or the terminal),
                                  "console" (printing and input), "all", or "pure" (printing,
                                  input through the host's function and strings: no time,
                                  randomness, sleep, files, processes, terminal or
                                  environment, so that a run depends on the script and the
                                  host alone) */
  /* Added after 0.4.0. */
  uint64_t call_depth_max;     /* calls that may be in progress at once; one more halts the run
                                  (ZANDLE_HALT_CALL_STACK). 0: 200,000; at most 4,294,967,295.
                                  vm's budgets keep it near 200 unless the host raises them */
  /* vm's budgets: a run may do this many events of a kind, plus one; the next halts it
   * (ZANDLE_HALT_INSTRUCTIONS, _NEW, ...). 0: the budget the library was built with (by
   * default 1,000,000 instructions, 10,000 New, 100 of each of the others). */
  uint32_t vm_budget_instructions; /* every line run or recorded */
  uint32_t vm_budget_new;
  uint32_t vm_budget_escape;
  uint32_t vm_budget_func;         /* Func and If together */
  uint32_t vm_budget_call;
  uint32_t vm_budget_return;
} zandle_options;

/* Fills `options` with the defaults: every field 0 or NULL, and struct_size `size`, the size
 * of the layout the caller was built with (ZANDLE_INVALID_ARGUMENT, and nothing written, for
 * a size of no layout this library knows). zandle_options_init passes sizeof *options; a
 * foreign-function interface passes the size of its own copy of the layout. The function
 * zandle_options_init, which hosts built against 0.4.0 call, fills 0.4.0's layout. */
ZANDLE_API zandle_status zandle_options_init_sized(zandle_options* options, size_t size);
ZANDLE_API void zandle_options_init(zandle_options* options);
#define zandle_options_init(options) ((void)zandle_options_init_sized((options), sizeof *(options)))

/* The library's version, "major.minor.patch". */
ZANDLE_API const char* zandle_version(void);

/* Machines. `options` may be NULL for the defaults. The two kind-specific constructors let
 * a static link take in only the interpreter it uses. */
ZANDLE_API zandle_status zandle_new(zandle_kind kind, const zandle_options* options, zandle_machine** out);
ZANDLE_API zandle_status zandle_new_vm(const zandle_options* options, zandle_machine** out);
ZANDLE_API zandle_status zandle_new_zndvm(const zandle_options* options, zandle_machine** out);
/* Frees the machine and all it holds (ZANDLE_OK; NULL does nothing). From inside one of the
 * machine's own callbacks it frees nothing and returns ZANDLE_BUSY: free it once the run
 * has returned. Child processes its scripts started and never waited for are reaped if they
 * have ended; those still running are not waited for, and stay the host's children. */
ZANDLE_API zandle_status zandle_free(zandle_machine* machine);
ZANDLE_API zandle_kind zandle_machine_kind(const zandle_machine* machine);

/* Runs a script text, line by line, to its end or its first failure or halt; `name` names it
 * in error places (a file name, say; may be NULL). Variables and recorded functions stay for
 * later runs; each run starts with no calls in progress, nothing being recorded and fresh
 * instruction counts. A function whose End the text never reaches is not recorded. Returns
 * ZANDLE_OK, ZANDLE_FAILED or ZANDLE_HALTED (or a status about the call itself). */
ZANDLE_API zandle_status zandle_run(zandle_machine* machine, const char* text, size_t text_len,
                                    const char* name, size_t name_len);

/* Runs a function an earlier run recorded, as a run of its own (ZANDLE_FAILED with
 * UnknownFunction when there is none of that name). */
ZANDLE_API zandle_status zandle_call(zandle_machine* machine, const char* function, size_t function_len);

/* Publishes command-line style arguments as VMARGC and VMARG0, VMARG1, ... */
ZANDLE_API zandle_status zandle_set_arguments(zandle_machine* machine, int argc, const char* const* argv);

/* How the last run ended. The error name is "" unless it failed; the exit status is what the
 * command-line program would exit with (0, or 1 after a failure or most halts). */
ZANDLE_API const char* zandle_error_name(const zandle_machine* machine);
ZANDLE_API zandle_halt zandle_halt_reason(const zandle_machine* machine);
ZANDLE_API int zandle_exit_status(const zandle_machine* machine);

/* A line of a script: the name its text was run under, its 1-based number, and the line. */
typedef struct zandle_place {
  const char* source;
  size_t source_len;
  uint32_t line; /* 0: no line (the run stopped before one, or the host made the call) */
  const char* text;
  size_t text_len;
} zandle_place;

/* Where the last run failed or halted (line 0 when it finished). */
ZANDLE_API zandle_status zandle_where(const zandle_machine* machine, zandle_place* place);
/* The functions that were running then, the innermost first, and where each was called from. */
ZANDLE_API size_t zandle_active_call_count(const zandle_machine* machine);
ZANDLE_API zandle_status zandle_active_call(const zandle_machine* machine, size_t index,
                                            const char** function, size_t* function_len,
                                            zandle_place* called_from);

/* Variables, as text: any value of either machine reads as its printed form; set_text stores
 * the bytes as they are (a str on zndvm). ZANDLE_NOT_FOUND when there is no such variable;
 * an empty name is ZANDLE_INVALID_ARGUMENT for every setter. */
ZANDLE_API zandle_status zandle_set_text(zandle_machine* machine, const char* name, size_t name_len,
                                         const char* text, size_t text_len);
ZANDLE_API zandle_status zandle_get_text(zandle_machine* machine, const char* name, size_t name_len,
                                         const char** text, size_t* text_len);

/* Typed variables (zndvm; ZANDLE_UNSUPPORTED on vm). A getter of another type than the
 * variable's is ZANDLE_WRONG_TYPE. */
ZANDLE_API zandle_status zandle_get_type(zandle_machine* machine, const char* name, size_t name_len,
                                         zandle_type* type);
ZANDLE_API zandle_status zandle_set_word(zandle_machine* machine, const char* name, size_t name_len, uint64_t value);
ZANDLE_API zandle_status zandle_set_sword(zandle_machine* machine, const char* name, size_t name_len, int64_t value);
ZANDLE_API zandle_status zandle_set_float(zandle_machine* machine, const char* name, size_t name_len, double value);
ZANDLE_API zandle_status zandle_get_word(zandle_machine* machine, const char* name, size_t name_len, uint64_t* value);
ZANDLE_API zandle_status zandle_get_sword(zandle_machine* machine, const char* name, size_t name_len, int64_t* value);
ZANDLE_API zandle_status zandle_get_float(zandle_machine* machine, const char* name, size_t name_len, double* value);

/* Escapes. A host escape is called like a built-in one, takes its arguments by each machine's
 * convention and obeys the allowed set like a built-in one (host escapes are allowed by every
 * preset); registering a name that exists replaces it on this machine, built-in or not, and
 * a NULL function removes a host escape (a built-in of that name comes back).
 *   vm:    the script puts the names of the argument variables in ARG1 and ARG2; results go
 *          to variables of the host's choosing (zandle_set_text).
 *   zndvm: the script puts them in __Escape_<name>_ARG<n>; results go to __Escape_<name>_RET<n>.
 * zandle_escape_arg reads argument `index` (vm: 1 or 2; zndvm: 0, 1, ...) by that convention,
 * as text (ZANDLE_NOT_FOUND when the script gave none); zandle_escape_result stores result
 * `index` of a zndvm escape as text. Both are for the escape being run: outside a host
 * escape they are ZANDLE_INVALID_ARGUMENT. Inside an escape a host may read and set variables
 * but not run, call or free the machine (ZANDLE_BUSY). An escape's name is one a script can
 * write: not empty, without spaces or control characters (else ZANDLE_INVALID_ARGUMENT). */
ZANDLE_API zandle_status zandle_register_escape(zandle_machine* machine, const char* name, size_t name_len,
                                                zandle_escape_fn fn, void* user_data);
ZANDLE_API zandle_status zandle_escape_arg(zandle_machine* machine, unsigned index, const char** text,
                                           size_t* text_len);
ZANDLE_API zandle_status zandle_escape_result(zandle_machine* machine, unsigned index, const char* text,
                                              size_t text_len);
/* Ends the escape with a failure of this name (letters and digits, at most 63), which the run
 * reports as "error: <name>"; return its value (ZANDLE_FAILED) from the escape. An escape that
 * returns any other non-zero value without it, or gives an invalid name, fails the run as
 * EscapeFailed. Outside a host escape it records nothing (ZANDLE_INVALID_ARGUMENT). */
ZANDLE_API int zandle_escape_fail(zandle_machine* machine, const char* error_name, size_t name_len);

/* Allows or withholds one escape (built-in or host) by name, whatever the preset said. */
ZANDLE_API zandle_status zandle_allow_escape(zandle_machine* machine, const char* name, size_t name_len, int allowed);

/* Keeping control. A run (zandle_run, zandle_call, zandle_resume) may stop between two
 * instructions and return ZANDLE_PAUSED; the paused run keeps everything it needs (the rest
 * of its text included: the host's text may go) and continues with zandle_resume exactly
 * where it stopped, ending as zandle_run does. While paused, zandle_run and zandle_call are
 * ZANDLE_BUSY; variables may be read and set, and zandle_where and the active calls say
 * where the run stands.
 *
 * zandle_set_slice: from the next run or resume on, pause after this many instructions (0:
 * never). A script run in slices of any size prints, leaves and counts exactly what it does
 * run whole; the instruction cap and vm's budgets count across pauses as in one run.
 * zandle_set_deadline: a run or resume pauses once this many nanoseconds of the monotonic
 * clock have passed since it began (0: none); a sleeping escape wakes early.
 * zandle_interrupt: the run in progress pauses at its next instruction boundary (within
 * some thousands of instructions); an escape that sleeps ends its sleep, one that waits for
 * a child gives up and runs again on resuming (the child goes on). With no run in progress,
 * the next run or resume pauses before its first instruction. It is the one call that is
 * safe from any thread and from a signal handler, at any time between zandle_new and
 * zandle_free.
 * zandle_escape_pause: a host escape returns its value (ZANDLE_PAUSED): its results stand,
 * and the run pauses just after the Escape, so that the host can answer asynchronous work
 * and resume. Outside a host escape it is ZANDLE_INVALID_ARGUMENT.
 * zandle_resume: ZANDLE_INVALID_ARGUMENT when nothing is paused. zandle_discard drops a
 * paused run (variables and recorded functions stay; a function being recorded is dropped,
 * as at the end of a text). zandle_paused: 1 while a run is paused, else 0. */
ZANDLE_API zandle_status zandle_set_slice(zandle_machine* machine, uint64_t instructions);
ZANDLE_API zandle_status zandle_set_deadline(zandle_machine* machine, uint64_t nanoseconds);
ZANDLE_API void zandle_interrupt(zandle_machine* machine);
ZANDLE_API int zandle_escape_pause(zandle_machine* machine);
ZANDLE_API zandle_status zandle_resume(zandle_machine* machine);
ZANDLE_API zandle_status zandle_discard(zandle_machine* machine);
ZANDLE_API int zandle_paused(const zandle_machine* machine);

/* Snapshots. zandle_snapshot gives an idle or paused machine as bytes: its variables with
 * their types, its recorded functions, the escapes withheld by name, and a paused run with
 * its call stack and counts (the bytes stay valid until the machine runs, resumes, is
 * restored or freed, or the next snapshot). The same script, input and options give the same
 * bytes on every run and every machine. zandle_restore puts such bytes onto a machine of the
 * same kind, replacing its variables, functions and run (a paused run can then be resumed):
 * the host's escapes are the host's to register again (a run that reaches one not registered
 * fails with UnknownEscape), and a snapshot never allows an escape the machine's own options
 * withhold. Bytes of another kind or version, or truncated, damaged or made up, give
 * ZANDLE_INVALID_SNAPSHOT and leave the machine as it was, as does running out of memory
 * (ZANDLE_OUT_OF_MEMORY): restoring counts against the memory cap like any allocation. */
ZANDLE_API zandle_status zandle_snapshot(zandle_machine* machine, const void** bytes, size_t* size);
ZANDLE_API zandle_status zandle_restore(zandle_machine* machine, const void* bytes, size_t size);

/* Bytes the machine holds now, and at most so far. */
ZANDLE_API size_t zandle_memory_used(const zandle_machine* machine);
ZANDLE_API size_t zandle_memory_peak(const zandle_machine* machine);

#ifdef __cplusplus
}
#endif

#endif /* ZANDLE_H */
