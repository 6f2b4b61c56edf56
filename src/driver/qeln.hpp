// The run of the model: the start-up dialogue, the fresh start or the
// restart, the common set-up, the time loop and the end of the run.
#pragma once

#include <iosfwd>

namespace qel {

// Conducts one whole run reading answers from `in`, printing the model's
// records on `out` and explanations of failures on `err`. Returns the exit
// status: 0 for a completed run, 1 for a model stop, 2 for an input or file
// error. With `progress`, a one-line progress indicator is kept on `err`
// (for a terminal). A run whose fields turned NaN completes all its output
// but returns 1 and says since when on `err`.
int run(std::istream& in, std::ostream& out, std::ostream& err, bool progress = false);

// The program's command line: no argument runs the model (run above);
// --help prints the usage text and --version the version on `out` (status
// 0); anything else is a usage error on `err` (status 2).
int run_command(int argc, const char* const argv[], std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace qel
