/* Runs 1,000 scripts on one thread, each on a machine of its own, taking turns of 1,000
 * instructions: short jobs finish in their first turn while long ones go on, and no script
 * can hold the thread. Each machine has caps on instructions and memory; a watchdog thread
 * gives each script 50 ms of running time in all and interrupts the one that overruns it.
 * Midway, one script is saved, its machine freed, and the saved bytes restored into a new
 * machine, where it finishes; the scheduler checks that it printed exactly what the same
 * script prints run whole, without pauses.
 *
 *     scheduler
 *
 * Exits 1 when the moved script printed otherwise, or the host ran out of memory.
 */
#define _POSIX_C_SOURCE 200809L /* clock_gettime, nanosleep */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "zandle/zandle.h"

#define SCRIPTS 1000
#define SLICE 1000                     /* instructions a turn */
#define TIME_BUDGET_NS 50000000ull     /* running time a script may use in all: 50 ms */
#define MOVED 1                        /* the script that moves to a new machine */
#define MOVE_AFTER_TURNS 3

/* What a script printed, kept apart from the others' since their turns interleave. */
typedef struct {
  char* bytes;
  size_t len, cap;
} buffer;

typedef struct {
  int id;
  zandle_machine* m; /* NULL once the script has ended */
  buffer out;
  int turns;
  uint64_t ran_ns;   /* running time over all its turns; the watchdog's to judge */
  int overran;       /* the watchdog interrupted it: its turn ends, and the script too */
} task;

/* What the two threads share, under one lock: the task whose turn it is and when the turn
 * began. The watchdog interrupts a machine only while holding the lock, and the scheduler
 * frees one only after its turn has ended under the same lock, so the watchdog never
 * touches a freed machine. */
static struct {
  pthread_mutex_t lock;
  task* running;
  uint64_t turn_began;
  int finished;
} watch = {PTHREAD_MUTEX_INITIALIZER, NULL, 0, 0};

static uint64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

/* The output function of every machine: appends to its task's buffer. */
static int collect(void* user, const char* bytes, size_t size) {
  buffer* b = (buffer*)user;
  if (b->len + size > b->cap) {
    size_t cap = b->cap ? b->cap : 64;
    char* grown;
    while (cap < b->len + size) cap *= 2;
    grown = realloc(b->bytes, cap);
    if (grown == NULL) return 1; /* fails the script's print, not the host */
    b->bytes = grown;
    b->cap = cap;
  }
  memcpy(b->bytes + b->len, bytes, size);
  b->len += size;
  return 0;
}

/* Every machine is made the same way, the one a saved script is restored into included: a
 * snapshot goes only onto a machine of its kind, and it never grants escapes that the new
 * machine's own options withhold. */
static zandle_machine* new_machine(buffer* out) {
  zandle_options options;
  zandle_machine* m;
  zandle_options_init(&options);
  options.escapes = "sandbox"; /* printing, strings, sleep: nothing outside the process */
  options.output = collect;
  options.output_user = out;
  options.instruction_cap = 100000; /* counted across turns, as in one run */
  options.memory_cap = 256 * 1024;
  if (zandle_new(ZANDLE_ZNDVM, &options, &m) != ZANDLE_OK) return NULL;
  if (zandle_set_slice(m, SLICE) != ZANDLE_OK) {
    zandle_free(m);
    return NULL;
  }
  return m;
}

/* The scripts, written here rather than read from files. Most add up 1..n for a small n,
 * at most a few hundred instructions; every tenth adds up to tens of thousands and needs
 * dozens of turns. Script MOVED prints a small table; one never ends, waiting in a loop;
 * one loops without end and runs into its instruction cap. */
static const char* const sum_script =
    "New n '%d'\n"
    "New i '0'\n"
    "New sum '0'\n"
    "Func add\n"
    "New i \"i + 1\"\n"
    "New sum \"sum + i\"\n"
    "If add \"i < n\"\n"
    "End\n"
    "Call add\n"
    "New sp ' '\n"
    "New label 'sum 1..'\n"
    "New eq '='\n"
    "New msg \"label s++ n s++ sp s++ eq s++ sp s++ sum\"\n"
    "New __Escape_std.io.print_ARG0 'msg'\n"
    "Escape std.io.print\n";

/* Sums of squares 1..100k for k = 1..10, each computed by a loop inside a function that
 * the outer loop calls, so that the script pauses three calls deep. */
static const char* const table_script =
    "New k '0'\n"
    "New sp ' '\n"
    "New label 'squares 1..'\n"
    "New eq '='\n"
    "Func add\n"
    "New i \"i + 1\"\n"
    "New sum \"sum + i * i\"\n"
    "If add \"i < n\"\n"
    "End\n"
    "Func squares\n"
    "New i '0'\n"
    "New sum '0'\n"
    "Call add\n"
    "End\n"
    "Func row\n"
    "New k \"k + 1\"\n"
    "New n \"k * 100\"\n"
    "Call squares\n"
    "New msg \"label s++ n s++ sp s++ eq s++ sp s++ sum\"\n"
    "New __Escape_std.io.print_ARG0 'msg'\n"
    "Escape std.io.print\n"
    "If row \"k < 10\"\n"
    "End\n"
    "Call row\n";

static const char* const waiting_script =
    "New ms '10'\n"
    "New __Escape_std.misc.sleep_ARG0 'ms'\n"
    "Func wait\n"
    "Escape std.misc.sleep\n"
    "If wait \"1 == 1\"\n"
    "End\n"
    "Call wait\n";

static const char* const spinning_script =
    "New i '0'\n"
    "Func spin\n"
    "New i \"i + 1\"\n"
    "If spin \"i > -1\"\n"
    "End\n"
    "Call spin\n";

static void script_text(int id, char* text, size_t size) {
  if (id == MOVED)
    snprintf(text, size, "%s", table_script);
  else if (id == SCRIPTS / 2)
    snprintf(text, size, "%s", waiting_script);
  else if (id == SCRIPTS - 1)
    snprintf(text, size, "%s", spinning_script);
  else
    snprintf(text, size, sum_script, id % 10 == 0 ? 10000 + 10 * id : 1 + id % 50);
}

/* The watchdog: every millisecond it looks at the script whose turn it is. Slices bound a
 * turn's instructions but not its time (one instruction can sleep or wait for a child), and
 * a turn holds the scheduler's thread, so time is watched from another thread. */
static void* watchdog(void* unused) {
  const struct timespec tick = {0, 1000000};
  (void)unused;
  for (;;) {
    pthread_mutex_lock(&watch.lock);
    if (watch.finished) break;
    if (watch.running != NULL && !watch.running->overran &&
        watch.running->ran_ns + (now_ns() - watch.turn_began) > TIME_BUDGET_NS) {
      /* The one call that is safe from any thread: the run pauses at its next instruction
       * boundary, and a sleeping escape wakes at once. */
      zandle_interrupt(watch.running->m);
      watch.running->overran = 1;
    }
    pthread_mutex_unlock(&watch.lock);
    nanosleep(&tick, NULL);
  }
  pthread_mutex_unlock(&watch.lock);
  return NULL;
}

/* One turn: the first runs the text, later ones resume where the last turn paused. */
static zandle_status take_turn(task* t) {
  char text[1024];
  zandle_status status;
  uint64_t began = now_ns();

  pthread_mutex_lock(&watch.lock);
  watch.running = t;
  watch.turn_began = began;
  pthread_mutex_unlock(&watch.lock);

  if (t->turns++ == 0) {
    /* The paused run keeps what it needs of the text, which may go once this returns. */
    script_text(t->id, text, sizeof text);
    status = zandle_run(t->m, text, strlen(text), "job.znd", 7);
  } else {
    status = zandle_resume(t->m);
  }

  pthread_mutex_lock(&watch.lock);
  watch.running = NULL;
  t->ran_ns += now_ns() - began;
  pthread_mutex_unlock(&watch.lock);
  return status;
}

/* Saves a paused script, frees its machine and restores the bytes into a new one: what a
 * host does to keep a script over a restart, or to move it to another process or computer
 * (the bytes are versioned and checked, and mean the same on any computer). The snapshot
 * holds the variables, the recorded functions and the paused run with its calls; here it
 * stays in memory. */
static size_t move_to_new_machine(task* t) {
  const void* view;
  void* saved;
  size_t size;

  if (zandle_snapshot(t->m, &view, &size) != ZANDLE_OK) return 0;
  saved = malloc(size); /* the view lasts only until the next call on the machine */
  if (saved == NULL) return 0;
  memcpy(saved, view, size);
  zandle_free(t->m);

  /* A host that registered escapes of its own registers them again here (new_machine):
   * the snapshot names them but cannot hold the host's functions. */
  t->m = new_machine(&t->out);
  if (t->m == NULL || zandle_restore(t->m, saved, size) != ZANDLE_OK || !zandle_paused(t->m)) size = 0;
  free(saved);
  return size;
}

/* The same script run whole on a fresh machine, without slices: what the moved one must
 * have printed. */
static int same_as_whole_run(const task* t) {
  buffer whole = {NULL, 0, 0};
  zandle_machine* m = new_machine(&whole);
  char text[1024];
  int same;

  script_text(t->id, text, sizeof text);
  same = m != NULL && zandle_set_slice(m, 0) == ZANDLE_OK &&
         zandle_run(m, text, strlen(text), "job.znd", 7) == ZANDLE_OK && whole.len == t->out.len &&
         (whole.len == 0 || memcmp(whole.bytes, t->out.bytes, whole.len) == 0);
  zandle_free(m);
  free(whole.bytes);
  return same;
}

/* Prints what a finished script printed, each line marked with the script's number. */
static void print_output(const task* t) {
  size_t start = 0, i;
  for (i = 0; i < t->out.len; ++i) {
    if (t->out.bytes[i] == '\n') {
      printf("[script %d] %.*s\n", t->id, (int)(i - start), t->out.bytes + start);
      start = i + 1;
    }
  }
}

/* How the scripts ended, for the last line of the report. */
static struct {
  int finished, halted, overran, failed;
} count;

/* Reports a script whose run has ended, or been stopped by the watchdog, and frees its
 * machine. Returns 0 when the moved script's output differs from a whole run's. */
static int end_script(task* t, zandle_status status) {
  zandle_place at;
  int ok = 1;

  zandle_where(t->m, &at);
  switch (status) {
    case ZANDLE_OK:
      ++count.finished;
      print_output(t);
      break;
    case ZANDLE_PAUSED:
      /* The watchdog's pause. zandle_discard would drop the run and keep the machine, its
       * variables and functions for another; this scheduler has no more use for it. */
      ++count.overran;
      printf("scheduler: script %d overran its %llu ms and was stopped after %.1f ms at line %u: %.*s\n",
             t->id, (unsigned long long)(TIME_BUDGET_NS / 1000000), (double)t->ran_ns / 1e6, at.line,
             (int)at.text_len, at.text);
      break;
    case ZANDLE_HALTED:
      ++count.halted;
      printf("scheduler: script %d halted by %s at line %u after %d turns\n", t->id,
             zandle_halt_reason(t->m) == ZANDLE_HALT_INSTRUCTION_CAP ? "its instruction cap" : "a limit",
             at.line, t->turns);
      break;
    default:
      ++count.failed;
      printf("scheduler: script %d failed with %s at line %u\n", t->id,
             status == ZANDLE_FAILED ? zandle_error_name(t->m) : "a status of the interface", at.line);
      break;
  }

  if (t->id == MOVED) {
    ok = status == ZANDLE_OK && same_as_whole_run(t);
    printf("scheduler: script %d, moved to a new machine midway, %s run whole (%zu bytes)\n", t->id,
           ok ? "printed exactly what it prints" : "did NOT print what it prints", t->out.len);
  }
  zandle_free(t->m);
  t->m = NULL;
  free(t->out.bytes);
  return ok;
}

int main(void) {
  static task tasks[SCRIPTS];
  pthread_t watchdog_thread;
  int live = SCRIPTS, rounds = 0, ok = 1, i;
  size_t moved_bytes = 0;

  for (i = 0; i < SCRIPTS; ++i) {
    tasks[i].id = i;
    tasks[i].m = new_machine(&tasks[i].out);
    if (tasks[i].m == NULL) {
      fprintf(stderr, "scheduler: out of memory\n");
      return 1;
    }
  }
  if (pthread_create(&watchdog_thread, NULL, watchdog, NULL) != 0) {
    fprintf(stderr, "scheduler: cannot start the watchdog\n");
    return 1;
  }

  /* Round-robin: each live script takes one turn a round. */
  while (live > 0) {
    ++rounds;
    for (i = 0; i < SCRIPTS; ++i) {
      task* t = &tasks[i];
      zandle_status status;

      if (t->m == NULL) continue;
      status = take_turn(t);
      if (status != ZANDLE_PAUSED || t->overran) {
        ok &= end_script(t, status);
        --live;
      } else if (t->id == MOVED && t->turns == MOVE_AFTER_TURNS) {
        zandle_place at;
        size_t calls = zandle_active_call_count(t->m);
        zandle_where(t->m, &at);
        moved_bytes = move_to_new_machine(t);
        if (moved_bytes == 0) {
          fprintf(stderr, "scheduler: script %d could not be moved\n", t->id);
          return 1;
        }
        printf("scheduler: script %d saved after %d turns at line %u, %zu calls deep (%zu bytes), "
               "its machine freed, restored into a new one\n",
               t->id, t->turns, at.line, calls, moved_bytes);
      }
    }
  }

  pthread_mutex_lock(&watch.lock);
  watch.finished = 1;
  pthread_mutex_unlock(&watch.lock);
  pthread_join(watchdog_thread, NULL);

  printf("scheduler: %d scripts in %d rounds of turns of %d instructions: %d finished, %d halted, "
         "%d stopped by the watchdog, %d failed\n",
         SCRIPTS, rounds, SLICE, count.finished, count.halted, count.overran, count.failed);
  return ok && moved_bytes != 0 ? 0 : 1;
}
