// qeltool run: a run of qeln with the dialogue answered from the command
// line.
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <sstream>
#include <string>

#include "driver/qeln.hpp"
#include "model/ranges.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

// The namelist member a name refers to, in upper case, or "" for none.
std::string member_name(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = char(std::toupper(static_cast<unsigned char>(c)));
  for (std::string_view n : kParNames)
    if (n == key) return key;
  return "";
}

std::string all_names() {
  std::string s;
  for (std::string_view n : kParNames) s += (s.empty() ? "" : " ") + std::string(n);
  return s;
}

}  // namespace

int run(const Args& args, std::ostream& out, std::ostream& err) {
  std::string dir, stamp = "-1", until, dump_every, diag_every;
  std::string edits;
  bool save = false;
  for (std::size_t n = 0; n < args.size(); ++n) {
    const std::string& a = args[n];
    // An option with its value in the next argument.
    auto value = [&](std::string& into) {
      if (n + 1 >= args.size()) throw Stop(2, a + " needs a value");
      into = args[++n];
    };
    if (a == "--restart") {
      value(stamp);
      stamp = std::to_string(stamp_value(stamp));
    } else if (a == "--until") {
      value(until);
      real_value(until, "--until");
    } else if (a == "--dump-every") {
      value(dump_every);
      // A subnormal value reads as 0 here, as in the model.
      if (const double v = real_value(dump_every, "--dump-every"); !(v > 0.0))
        throw Stop(2, "the dump interval --dump-every must be positive, found " + dump_every +
                          subnormal_note(v));
    } else if (a == "--diag-every") {
      value(diag_every);
      if (!(real_value(diag_every, "--diag-every") >= 0.0))
        throw Stop(
            2, "the diagnostic interval --diag-every must not be negative, found " + diag_every);
    } else if (a == "--save-input") {
      save = true;
    } else if (a.starts_with("--")) {
      throw Stop(2, "unknown option " + a + "\n" + usage("run"));
    } else if (a.find('=') != std::string::npos) {
      const Setting kv = setting(a);
      const std::string key = member_name(kv.key);
      if (key.empty())
        throw Stop(
            2, "'" + kv.key + "' is not a parameter of group F; the parameters are " + all_names() +
                   " (docs/parameters.md and 'qeltool params' describe them)");
      // The value is passed on as typed: the namelist reader takes every
      // real constant that real_value accepts, NaN and infinities included.
      // The range is checked by qeln as well; here it is refused before
      // the dialogue starts.
      const ParRange* range = par_range(key);
      if (const double v = real_value(kv.value, key, false); !range->ok(v))
        throw Stop(2, par_range_message(*range, v));
      edits += " " + key + "=" + kv.value + ",";
    } else if (dir.empty()) {
      dir = a;
    } else {
      throw Stop(2, "unexpected argument '" + a + "'\n" + usage("run"));
    }
  }
  if (dir.empty()) throw Stop(2, "no experiment directory named\n" + usage("run"));
  if (until.empty() || dump_every.empty() || diag_every.empty())
    throw Stop(2, "--until, --dump-every and --diag-every are all needed\n" + usage("run"));
  if (dir.find_first_of("\n\r") != std::string::npos)
    throw Stop(2, "the directory name holds a line end and cannot be answered to qeln");

  // The answers a user would type: the directory (quoted, a quote doubled),
  // the stamp, the changes if any (answer 2 also rewrites qel.input), 0 to
  // run, the three times.
  std::string quoted;
  for (char c : dir) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  std::string answers = "'" + quoted + "'\n" + stamp + "\n";
  if (!edits.empty() || save)
    answers += std::string(save ? "2" : "1") + "\n $f" + edits + " $end\n";
  answers += "0\n" + until + " " + dump_every + " " + diag_every + "\n";

  // The progress indicator of qeln, when the explanations go to a terminal.
  std::istringstream in(answers);
  return qel::run(in, out, err, &err == &std::cerr && ::isatty(STDERR_FILENO) == 1);
}

}  // namespace qel::tool
