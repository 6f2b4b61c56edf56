#include "driver/signals.hpp"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qel {

namespace {

// Read by the handler only; written with the interrupts blocked.
char g_temp[8192];
char g_note[8400] = "no dump was written";
char g_program[64] = "qeln";

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// Only unlink, write and _exit: all async-signal-safe.
extern "C" void on_interrupt(int sig) {
  if (g_temp[0] != '\0') ::unlink(g_temp);
  const char* name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
  const char* parts[] = {g_program, ": stopped by ", name, "; ", g_note, "\n"};
  for (const char* p : parts) {
    ssize_t ignored = ::write(STDERR_FILENO, p, std::strlen(p));
    (void)ignored;
  }
  ::_exit(128 + sig);
}

// Blocks the interrupts for the life of the object, so that the handler
// never sees a half-updated record.
struct Blocked {
  sigset_t old;
  Blocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kInterrupts) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old);
  }
  ~Blocked() {
    const int err = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = err;
  }
};

void copy_to(char* to, std::size_t size, const std::string& text) {
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
}

struct sigaction g_saved[3], g_saved_pipe, g_saved_xfsz;

}  // namespace

RunSignals::RunSignals() {
  {
    Blocked b;
    g_temp[0] = '\0';
    copy_to(g_note, sizeof g_note, "no dump was written");
    copy_to(g_program, sizeof g_program, "qeln");
  }
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  for (int sig : kInterrupts) sigaddset(&sa.sa_mask, sig);
  for (int k = 0; k < 3; ++k) sigaction(kInterrupts[k], &sa, &g_saved[k]);
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGPIPE, &ign, &g_saved_pipe);
  sigaction(SIGXFSZ, &ign, &g_saved_xfsz);
}

RunSignals::~RunSignals() {
  for (int k = 0; k < 3; ++k) sigaction(kInterrupts[k], &g_saved[k], nullptr);
  sigaction(SIGPIPE, &g_saved_pipe, nullptr);
  sigaction(SIGXFSZ, &g_saved_xfsz, nullptr);
}

int make_temp(std::string& tmpl) {
  if (tmpl.size() >= sizeof g_temp) {
    errno = ENAMETOOLONG;
    return -1;
  }
  Blocked b;
  const int fd = ::mkstemp(tmpl.data());
  if (fd >= 0) copy_to(g_temp, sizeof g_temp, tmpl);
  return fd;
}

int rename_temp(const std::string& tmp, const std::string& target) {
  Blocked b;
  if (std::rename(tmp.c_str(), target.c_str()) != 0) return -1;
  g_temp[0] = '\0';
  return 0;
}

void remove_temp(const std::string& tmp) {
  const int err = errno;
  {
    Blocked b;
    ::unlink(tmp.c_str());
    g_temp[0] = '\0';
  }
  errno = err;
}

void note_dump(const std::string& name, bool written) {
  Blocked b;
  if (written)
    copy_to(g_note, sizeof g_note, "the last complete dump is " + name);
  else if (name.empty())
    copy_to(g_note, sizeof g_note, "no dump was written");
  else
    copy_to(g_note, sizeof g_note, "no dump was written by this run; it started from " + name);
}

void note_interrupt(const std::string& program, const std::string& note) {
  Blocked b;
  copy_to(g_program, sizeof g_program, program);
  copy_to(g_note, sizeof g_note, note);
}

}  // namespace qel
