// qeltool hist: the diagnostic lines of a history file as CSV.
#include <array>
#include <cmath>
#include <sstream>
#include <ostream>
#include <string>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

// The fields of a diagnostic line: one blank, then these widths.
constexpr std::array<int, 8> kWidths = {8, 8, 10, 10, 10, 10, 10, 10};
constexpr std::size_t kLineLength = 77;
// A header line of a fresh start: one blank and a 25-character value.
constexpr std::size_t kHeaderLength = 26;
constexpr int kHeaderLines = 100;

std::string trim(const std::string& t) {
  const std::size_t a = t.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return t.substr(a, t.find_last_not_of(' ') - a + 1);
}

// The CSV cell of one fixed field, or false when the field holds something
// the model never writes there. Asterisks (a value too wide for its field)
// give an empty cell.
bool cell(const std::string& field, std::string& c) {
  const std::string t = trim(field);
  if (!t.empty() && t.find_first_not_of('*') == std::string::npos && t.size() == field.size()) {
    c.clear();
    return true;
  }
  double v = 0.0;
  if (t.empty() || t.find_first_of(" dDeE") != std::string::npos ||
      parse_real(t, v) != RealText::ok)
    return false;
  if (std::isnan(v))
    c = "NaN";
  else if (std::isinf(v))
    c = v > 0 ? "inf" : "-inf";
  else
    c = t;
  return true;
}

}  // namespace

int hist(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) throw Stop(2, "expected one history file\n" + usage("hist"));
  const std::string& name = args[0];
  const std::string text = read_regular_file(name, "history file");
  // The model writes text only: a NUL byte marks a binary file (a dump
  // named by mistake), refused before any output.
  if (text.find('\0') != std::string::npos)
    throw Stop(2, name + " is not a history file: it holds binary data");
  std::istringstream in(text);

  std::ostringstream table;
  std::string complaints;
  int bad = 0, good = 0;
  int n = 0;
  bool in_header = true;
  for (std::string line; std::getline(in, line);) {
    ++n;
    // The parameter lines of a fresh start come first.
    if (in_header && n <= kHeaderLines && line.size() == kHeaderLength) {
      ++good;
      continue;
    }
    in_header = false;

    std::string row;
    bool ok = line.size() == kLineLength && line[0] == ' ';
    std::size_t at = 1;
    for (std::size_t k = 0; ok && k < kWidths.size(); ++k) {
      std::string c;
      ok = cell(line.substr(at, std::size_t(kWidths[k])), c);
      at += std::size_t(kWidths[k]);
      row += (k == 0 ? "" : ",") + c;
    }
    if (!ok) {
      ++bad;
      complaints += "qeltool hist: " + name + ", line " + std::to_string(n) +
                    ": not a diagnostic line (one blank and eight fixed fields, 77 characters); "
                    "left out\n";
      continue;
    }
    ++good;
    table << row << '\n';
  }
  if (in.bad()) throw Stop(2, "cannot read history file " + name);
  // Damaged lines among good ones are reported one by one; a file without a
  // single header or diagnostic line is some other file.
  if (good == 0 && bad > 0)
    throw Stop(2, name + " is not a history file: none of its " + std::to_string(bad) +
                      " lines is a parameter or diagnostic line");
  out << "time,DT,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n"
      << table.str();
  err << complaints;
  return bad == 0 ? 0 : 2;
}

}  // namespace qel::tool
