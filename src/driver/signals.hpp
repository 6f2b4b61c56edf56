// Interrupts of a run and the temporary files of atomic writes.
//
// A file that holds a user's work is written to a temporary file beside it
// and renamed over it. The name of that temporary file, while it exists, is
// the one piece of process-wide state: an interrupt (SIGINT, SIGTERM,
// SIGHUP) removes it, says on standard error which dump was the last
// complete one, and ends the program with status 128 + the signal number.
#pragma once

#include <string>

namespace qel {

// Installed for the life of a run (restoring the earlier dispositions when
// it ends): the interrupt handler above, and SIGPIPE and SIGXFSZ ignored so
// that a closed pipe or a file-size limit is an ordinary write error.
class RunSignals {
 public:
  RunSignals();
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;
};

// mkstemp on `tmpl` (ending in XXXXXX) with the name recorded for the
// interrupt handler; -1 with errno set on failure.
int make_temp(std::string& tmpl);
// rename(tmp, target) and the record cleared, atomically with respect to
// the interrupt handler; -1 with errno set on failure (the record is then
// kept for remove_temp).
int rename_temp(const std::string& tmp, const std::string& target);
// Removes the temporary file and clears the record; errno is kept.
void remove_temp(const std::string& tmp);

// What the interrupt handler reports: the last dump written whole, or, with
// `written` false, the dump the run started from ("" for a fresh start).
void note_dump(const std::string& name, bool written);

// For a program other than qeln that writes through make_temp under
// RunSignals: the name that opens the interrupt message and what it reports
// after the signal's name (RunSignals resets them to qeln's).
void note_interrupt(const std::string& program, const std::string& note);

}  // namespace qel
