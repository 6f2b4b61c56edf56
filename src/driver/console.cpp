#include "driver/console.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <string>
#include <system_error>

namespace qel {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Ends an unquoted item: blank, comma, slash (the line end ends it too).
bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (lower(a[k]) != lower(b[k])) return false;
  return true;
}

}  // namespace

// Syntax: [sign] (digits [. [digits]] | . digits) [(e|E|d|D) [sign] digits].
// The constant is rewritten with an 'e' exponent and converted by a correctly
// rounded decimal-to-binary conversion, so every double written with 17
// significant digits reads back to the same bits.
RealText parse_real(std::string_view t, double& v) {
  bool neg = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    neg = t[0] == '-';
    t.remove_prefix(1);
  }
  if (equals_nocase(t, "nan")) {
    v = std::numeric_limits<double>::quiet_NaN();
    return RealText::ok;
  }
  if (equals_nocase(t, "inf") || equals_nocase(t, "infinity")) {
    v = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return RealText::ok;
  }

  std::size_t k = 0;
  std::size_t int_digits = 0, frac_digits = 0;
  while (k < t.size() && is_digit(t[k])) ++k, ++int_digits;
  if (k < t.size() && t[k] == '.') {
    ++k;
    while (k < t.size() && is_digit(t[k])) ++k, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return RealText::not_real;
  const std::size_t mantissa_end = k;
  long long exp10 = 0;
  if (k < t.size()) {
    const char e = lower(t[k]);
    if (e != 'e' && e != 'd') return RealText::not_real;
    ++k;
    bool eneg = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) eneg = t[k++] == '-';
    if (k == t.size()) return RealText::not_real;
    for (; k < t.size(); ++k) {
      if (!is_digit(t[k])) return RealText::not_real;
      if (exp10 < 1000000000) exp10 = exp10 * 10 + (t[k] - '0');
    }
    if (eneg) exp10 = -exp10;
  }

  const std::string norm = std::string(t.substr(0, mantissa_end)) + "e" + std::to_string(exp10);
  double mag = 0.0;
  const auto [ptr, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), mag);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: the decimal order of the leading digit
    // tells overflow from underflow to zero.
    const std::string_view m = t.substr(0, mantissa_end);
    const std::size_t first = m.find_first_of("123456789");
    const std::size_t point = std::min(m.find('.'), m.size());
    if (first != std::string_view::npos) {
      const long long order =
          first < point ? (long long)(point - first) - 1 : -(long long)(first - point);
      if (order + exp10 > 0) return RealText::too_large;
    }
    mag = 0.0;
  } else if (ec != std::errc() || ptr != norm.data() + norm.size()) {
    return RealText::not_real;
  }
  v = neg ? -mag : mag;
  return RealText::ok;
}

namespace {

template <class Int>
bool parse_int(std::string_view t, Int& v) {
  const bool neg = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  if (t.empty()) return false;
  // The magnitude in 64 unsigned bits, refused as soon as it leaves the range.
  const std::uint64_t limit =
      std::uint64_t(std::numeric_limits<Int>::max()) + (neg ? 1u : 0u);
  std::uint64_t n = 0;
  for (char c : t) {
    if (!is_digit(c)) return false;
    const std::uint64_t d = std::uint64_t(c - '0');
    if (n > (limit - d) / 10) return false;
    n = n * 10 + d;
  }
  v = neg ? Int(-std::int64_t(n - 1) - 1) : Int(n);
  return true;
}

}  // namespace

bool parse_integer(std::string_view t, std::int32_t& v) { return parse_int(t, v); }
bool parse_integer(std::string_view t, std::int64_t& v) { return parse_int(t, v); }

ListReader::ListReader(std::istream& in, std::string source)
    : in_(in), source_(std::move(source)) {}

Stop ListReader::error(std::string_view message) const {
  return Stop(2, source_ + ", line " + std::to_string(line_no_) + ": " + std::string(message));
}

void ListReader::bad_item(std::string_view found, std::string_view kind,
                          std::string_view what) const {
  throw error("expected " + std::string(what) + " (" + std::string(kind) + "), found \"" +
              std::string(found) + "\"");
}

// One line, at most kMaxLine characters: input without line ends is refused
// instead of being buffered without limit.
bool ListReader::next_line() {
  line_.clear();
  std::streambuf* buf = in_.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buf == nullptr ? EOF : buf->sbumpc();
    if (c == EOF) {
      in_.setstate(std::ios::eofbit);
      if (!any) return false;
      break;
    }
    any = true;
    if (c == '\n') break;
    // A carriage return ends a line too (alone, as in old Mac files, or
    // before a line feed).
    if (c == '\r') {
      if (buf->sgetc() == '\n') buf->sbumpc();
      break;
    }
    if (line_.size() == kMaxLine)
      throw Stop(2, source_ + ", line " + std::to_string(line_no_ + 1) + ": longer than " +
                        std::to_string(kMaxLine) + " characters; no answer is that long");
    line_ += char(c);
  }
  ++line_no_;
  pos_ = 0;
  return true;
}

void ListReader::begin() {
  in_statement_ = true;
  slashed_ = false;
  have_line_ = false;
  comma_open_ = false;
}

void ListReader::end() {
  in_statement_ = false;
  have_line_ = false;
}

bool ListReader::getline(std::string& line) {
  in_statement_ = false;
  have_line_ = false;
  if (!next_line()) return false;
  line = line_;
  return true;
}

// Moves to the first character of the next item, reading further lines as
// needed. One comma, with blanks or line ends around it, separates two items;
// a second comma would stand for an empty item, which is refused.
ListReader::Next ListReader::advance(std::string_view what, bool slash_ends) {
  if (!in_statement_) begin();
  if (slashed_) return Next::slash;
  for (;;) {
    if (!have_line_) {
      if (!next_line())
        throw Stop(2, source_ + ": end of input" +
                          (line_no_ > 0 ? " after line " + std::to_string(line_no_) : std::string()) +
                          ", expected " + std::string(what));
      have_line_ = true;
    }
    while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
    if (pos_ == line_.size()) {
      have_line_ = false;
      continue;
    }
    const char c = line_[pos_];
    if (c == ',') {
      if (!comma_open_) bad_item(",", "an item before the comma", what);
      comma_open_ = false;
      ++pos_;
      continue;
    }
    if (c == '/' && slash_ends) {
      ++pos_;
      slashed_ = true;
      return Next::slash;
    }
    return Next::item;
  }
}

std::string_view ListReader::token(bool slash_ends) {
  const std::size_t start = pos_;
  while (pos_ < line_.size() && !(slash_ends ? ends_item(line_[pos_])
                                             : is_blank(line_[pos_]) || line_[pos_] == ','))
    ++pos_;
  comma_open_ = true;
  return std::string_view(line_).substr(start, pos_ - start);
}

// A quoted text runs to the matching quote on the same line; a doubled quote
// inside stands for one.
bool ListReader::text(std::string& v, std::string_view what, bool slash_ends) {
  if (advance(what, slash_ends) == Next::slash) return false;
  const char q = line_[pos_];
  if (q != '\'' && q != '"') {
    v = std::string(token(slash_ends));
    return true;
  }
  const std::size_t start = pos_;
  std::string s;
  for (++pos_;; ++pos_) {
    if (pos_ == line_.size())
      bad_item(std::string_view(line_).substr(start), "a text closed by its quote on the same line", what);
    if (line_[pos_] == q) {
      if (pos_ + 1 < line_.size() && line_[pos_ + 1] == q) {
        s += q;
        ++pos_;
      } else {
        break;
      }
    } else {
      s += line_[pos_];
    }
  }
  ++pos_;
  if (pos_ < line_.size() && !ends_item(line_[pos_]))
    bad_item(std::string_view(line_).substr(start), "a blank, comma or slash after the closing quote", what);
  comma_open_ = true;
  v = std::move(s);
  return true;
}

bool ListReader::real(double& v, std::string_view what) {
  if (advance(what) == Next::slash) return false;
  const std::string_view t = token();
  double x;
  switch (parse_real(t, x)) {
    case RealText::ok: v = x; return true;
    case RealText::too_large: bad_item(t, "a real number within the range of a double", what);
    case RealText::not_real: break;
  }
  bad_item(t, "a real number", what);
}

bool ListReader::integer(std::int32_t& v, std::string_view what) {
  if (advance(what) == Next::slash) return false;
  const std::string_view t = token();
  if (!parse_integer(t, v)) bad_item(t, "an integer", what);
  return true;
}

bool ListReader::integer(std::int64_t& v, std::string_view what) {
  if (advance(what) == Next::slash) return false;
  const std::string_view t = token();
  if (!parse_integer(t, v)) bad_item(t, "an integer within the 64-bit range", what);
  return true;
}

namespace {

// One statement, one item; a slash before it leaves nothing to return.
template <class T, class Read>
T read_one(ListReader& in, std::string_view what, Read read) {
  T v{};
  in.begin();
  const bool got = read(v);
  in.end();
  if (!got) throw in.error("expected " + std::string(what) + ", found \"/\"");
  return v;
}

}  // namespace

std::string read_text(ListReader& in, std::string_view what) {
  return read_one<std::string>(in, what, [&](std::string& v) { return in.text(v, what); });
}

std::string read_path(ListReader& in, std::string_view what) {
  return read_one<std::string>(in, what, [&](std::string& v) { return in.text(v, what, false); });
}

double read_real(ListReader& in, std::string_view what) {
  return read_one<double>(in, what, [&](double& v) { return in.real(v, what); });
}

std::int32_t read_integer(ListReader& in, std::string_view what) {
  return read_one<std::int32_t>(in, what, [&](std::int32_t& v) { return in.integer(v, what); });
}

}  // namespace qel

namespace qel {

std::int64_t read_integer64(ListReader& in, std::string_view what) {
  return read_one<std::int64_t>(in, what, [&](std::int64_t& v) { return in.integer(v, what); });
}

}  // namespace qel
