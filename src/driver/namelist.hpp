// Namelist group F (the 36 run parameters) and the parameter dialogue.
//
// Output form: a line "&F", one line " NAME=<25-character value>," per member
// in group order, a line " /". Input form: text before the group skipped,
// the group opened by $F or &F and closed by /, $END or &END (any letter
// case), assignments name = value in any order and case.
#pragma once

#include <iosfwd>
#include <string>

#include "driver/console.hpp"
#include "model/state.hpp"

namespace qel {

// Writes group F in the output form.
void write_namelist(std::ostream& out, const Par& par);

// Reads group F, changing only the members it names. Throws qel::Stop
// (status 2) on a malformed group, an unknown name (listing the valid ones),
// a value that is not a real constant, or end of input inside the group or
// before it ("holds no group F").
void read_namelist(ListReader& in, Par& par);

// The parameter dialogue: with iread = 1 first reads s.dirnam/qel.input;
// then shows the parameters and asks for changes until the answer is 0.
// Answer 2 rewrites qel.input (through a temporary file renamed over it, at
// the target of a link). Parameters outside their valid range, from the file
// or an edit, are refused (Stop, status 2) before anything is written.
void change(State& s, int iread, ListReader& in, std::ostream& out);

}  // namespace qel
