// Valid ranges of the run parameters: one table, shared by the checks made
// when parameters are read (qel.input, a dump, an edit) and by the parameter
// reference that qeltool prints.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/state.hpp"

namespace qel {

struct ParRange {
  std::string_view name;   // namelist name, e.g. "STR"
  std::string_view valid;  // the valid values for a person, e.g. "0 < STR < 2"
  bool (*ok)(double);      // true when the value lies in the valid range
};

// One entry per member of group F, in group order.
std::span<const ParRange> par_ranges();

// The entry of a member by its namelist name (any letter case); nullptr when
// the name is not a member of group F.
const ParRange* par_range(std::string_view name);

// "NAME = value is outside its valid range: <valid>".
std::string par_range_message(const ParRange& r, double v);

// " (a subnormal number, which the model reads as 0)" for a subnormal v,
// else "": the model runs with denormals read as zero, so a subnormal value
// fails a test such as 0 < v that its printed digits seem to pass.
std::string subnormal_note(double v);

// The first member of `p` outside its valid range, as a message naming the
// parameter, its value and the valid range; nothing when all are valid.
std::optional<std::string> par_out_of_range(const Par& p);

}  // namespace qel
