#include "model/render.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

namespace qel {

namespace {

// Right-justifies `s` in `width` characters (never truncates).
std::string right(std::string s, std::size_t width) {
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

}  // namespace

// 17 significant digits are enough to restore any double exactly. The digits
// and the decimal exponent come from one correctly rounded conversion, so the
// choice between fixed and scientific form is made on the rounded value.
std::string list_real(double x) {
  if (std::isnan(x)) return right("NaN", 25);
  if (std::isinf(x)) return right(x < 0 ? "-Infinity" : "Infinity", 25);

  char buf[40];
  std::snprintf(buf, sizeof buf, "%.16e", x);
  // buf: [-]d.dddddddddddddddde[+-]xx[x]
  const std::string s(buf);
  const bool neg = s[0] == '-';
  const std::size_t d0 = neg ? 1 : 0;
  const std::size_t epos = s.find('e');
  std::string digits = s.substr(d0, 1) + s.substr(d0 + 2, epos - d0 - 2);  // 17 digits
  const int e10 = std::stoi(s.substr(epos + 1));

  std::string out = neg ? "-" : "";
  // Fixed form for 0 (exponent 0) and 0.1 <= |x| < 1e17: 17 significant
  // digits, right-justified in 20, then 5 blanks.
  if (e10 >= -1 && e10 <= 16) {
    if (e10 == -1) {
      out += "0." + digits;
    } else {
      const std::size_t n = std::size_t(e10) + 1;
      out += digits.substr(0, n) + "." + digits.substr(n);
    }
    return right(out, 20) + "     ";
  }
  // Decimal exponents of finite doubles lie in -324..308: three digits.
  char exp[16];
  std::snprintf(exp, sizeof exp, "E%c%03d", e10 < 0 ? '-' : '+', e10 < 0 ? -e10 : e10);
  out += digits.substr(0, 1) + "." + digits.substr(1) + exp;
  return right(out, 25);
}

std::string real_text(double x) {
  std::string t = list_real(x);
  t.erase(0, t.find_first_not_of(' '));
  t.erase(t.find_last_not_of(' ') + 1);
  return t;
}

std::string list_int(std::int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%11d", static_cast<int>(n));
  return buf;
}

// printf's %f rounds the exact binary value to nearest, ties to even, and
// keeps the minus sign of a negative value that rounds to zero.
std::string fixed_field(double x, int width, int decimals) {
  const std::size_t w = width > 0 ? std::size_t(width) : 0;
  std::string s;
  if (std::isnan(x)) {
    s = "NaN";
  } else if (std::isinf(x)) {
    s = x < 0 ? "-Infinity" : "Infinity";
    if (s.size() > w) s = x < 0 ? "-Inf" : "Inf";
  } else {
    const int d = decimals < 0 ? 0 : decimals;
    const int n = std::snprintf(nullptr, 0, "%.*f", d, x);
    s.resize(std::size_t(n) + 1);
    std::snprintf(s.data(), s.size(), "%.*f", d, x);
    s.resize(std::size_t(n));
  }
  if (s.size() > w) return std::string(w, '*');
  return right(std::move(s), w);
}

// Items are separated by one blank, except that consecutive text items are
// joined as they stand.
Record& Record::operator<<(std::string_view text) {
  if (last_ == Item::number) line_ += ' ';
  line_ += text;
  last_ = Item::text;
  return *this;
}

Record& Record::operator<<(double x) {
  if (last_ != Item::none) line_ += ' ';
  line_ += list_real(x);
  last_ = Item::number;
  return *this;
}

Record& Record::operator<<(std::int32_t n) {
  if (last_ != Item::none) line_ += ' ';
  line_ += list_int(n);
  last_ = Item::number;
  return *this;
}

void write_record(std::ostream& out, const Record& rec) { out << rec.str() << '\n'; }

}  // namespace qel
