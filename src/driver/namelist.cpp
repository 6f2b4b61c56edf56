#include "driver/namelist.hpp"

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

#include "driver/files.hpp"
#include "model/ranges.hpp"

namespace qel {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool is_name_char(char c) {
  const char u = upper(c);
  return (u >= 'A' && u <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether `word` (upper case) stands at `pos` of `line` in any letter case,
// followed by the line end or a character that cannot continue a name.
bool word_at(const std::string& line, std::size_t pos, std::string_view word) {
  if (line.size() - pos < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (upper(line[pos + k]) != word[k]) return false;
  const std::size_t after = pos + word.size();
  return after == line.size() || !is_name_char(line[after]);
}

// Position just after the "$F" or "&F" that opens the group, or npos.
std::size_t group_start(const std::string& line) {
  for (std::size_t k = 0; k < line.size(); ++k)
    if ((line[k] == '$' || line[k] == '&') && word_at(line, k + 1, "F")) return k + 2;
  return std::string::npos;
}

std::string valid_names() {
  std::string s;
  for (std::string_view n : kParNames) {
    if (!s.empty()) s += ", ";
    s += n;
  }
  return s;
}

// The text from `pos` up to the next blank, comma or line end, for messages.
std::string word_from(const std::string& line, std::size_t pos) {
  std::size_t end = pos;
  while (end < line.size() && !is_blank(line[end]) && line[end] != ',') ++end;
  return line.substr(pos, end - pos);
}

}  // namespace

void write_namelist(std::ostream& out, const Par& par) {
  out << "&F\n";
  for (int k = 0; k < kNamelistSize; ++k)
    out << ' ' << kParNames[std::size_t(k)] << '=' << list_real(par.*kParMembers[std::size_t(k)])
        << ",\n";
  out << " /\n";
}

// The group is parsed into a copy and committed only when it has been read
// to its end, so a faulty group changes nothing.
void read_namelist(ListReader& in, Par& par) {
  std::string line;
  std::size_t pos = std::string::npos;
  while (pos == std::string::npos) {
    if (!in.getline(line))
      throw Stop(2, in.source() + " holds no group F: end of input before $F or &F");
    pos = group_start(line);
  }

  // Skips blanks (and commas when they may separate assignments) over line
  // ends; false at the end of input.
  auto skip = [&](bool commas) {
    for (;;) {
      while (pos < line.size() && (is_blank(line[pos]) || (commas && line[pos] == ','))) ++pos;
      if (pos < line.size()) return true;
      if (!in.getline(line)) return false;
      pos = 0;
    }
  };
  auto need = [&](bool commas, std::string_view expected) {
    if (!skip(commas))
      throw Stop(2, in.source() + ": end of input after line " + std::to_string(in.line_number()) +
                        " inside group F, expected " + std::string(expected));
  };

  Par work = par;
  for (;;) {
    need(true, "a name = value assignment, / or $END");
    const char c = line[pos];
    if (c == '/') break;
    if (c == '$' || c == '&') {
      if (word_at(line, pos + 1, "END")) break;
      throw in.error("expected / or $END to close group F, found \"" + word_from(line, pos) + "\"");
    }

    const std::size_t start = pos;
    while (pos < line.size() && is_name_char(line[pos])) ++pos;
    const std::string name = line.substr(start, pos - start);
    if (name.empty())
      throw in.error("expected a member name of group F, found \"" + word_from(line, start) + "\"");
    std::string key = name;
    for (char& ch : key) ch = upper(ch);
    int member = -1;
    for (int k = 0; k < kNamelistSize; ++k)
      if (kParNames[std::size_t(k)] == key) member = k;
    if (member < 0)
      throw in.error("unknown name \"" + name + "\" in group F; the names are " + valid_names() +
                     " (docs/parameters.md and 'qeltool params' describe them)");

    need(false, "= after " + name);
    if (line[pos] != '=')
      throw in.error("expected = after " + name + ", found \"" + word_from(line, pos) + "\"");
    ++pos;
    need(false, "a real constant for " + name);

    // A value ends at a blank, a comma, the slash or dollar that may close
    // the group, or the line end.
    const std::size_t vstart = pos;
    while (pos < line.size() && !is_blank(line[pos]) && line[pos] != ',' && line[pos] != '/' &&
           line[pos] != '$' && line[pos] != '&')
      ++pos;
    const std::string value = line.substr(vstart, pos - vstart);
    double v = 0.0;
    const RealText r = parse_real(value, v);
    if (r != RealText::ok)
      throw in.error("expected a real constant" +
                     std::string(r == RealText::too_large ? " within the range of a double" : "") +
                     " for " + name + ", found \"" +
                     (value.empty() ? line.substr(vstart, 1) : value) + "\"");
    work.*kParMembers[std::size_t(member)] = v;
  }
  par = work;
}

void change(State& s, int iread, ListReader& in, std::ostream& out) {
  const std::string path = s.dirnam + "/qel.input";

  // A fresh start takes its parameters from the file; nothing is created when
  // it is missing.
  if (iread == 1) {
    std::istringstream file(read_regular_file(path, "parameter file"));
    ListReader rd(file, path);
    read_namelist(rd, s.par);
    if (const auto bad = par_out_of_range(s.par)) throw Stop(2, path + ": " + *bad);
  }

  for (;;) {
    write_record(out, Record() << " current parameters are:");
    write_namelist(out, s.par);
    write_record(out, Record() << " do you want to change any parameters?");
    write_record(out, Record() << " for 'yes, and rewrite qel.input': 2 , "
                                  "'yes, but do not rewrite qel.input:' 1, 'no:' 0");
    out.flush();
    const std::int32_t ians = read_integer(in, "the answer 2, 1 or 0");
    if (ians == 0) break;

    write_record(out, Record() << " enter changes with: (space)$f example=1.0, etc=2. $end");
    out.flush();
    read_namelist(in, s.par);
    // Checked before anything is written, qel.input included.
    if (const auto bad = par_out_of_range(s.par)) throw in.error(*bad);
    if (ians == 2) {
      std::ostringstream text;
      write_namelist(text, s.par);
      replace_file(path, text.str());
    }
  }
}

}  // namespace qel
