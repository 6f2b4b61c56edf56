// The rendering of the records the model prints: list-directed output
// records and the fixed-point fields of the diagnostic line, and a double as
// it appears in messages.
//
// Output record: one leading blank, then the items; a text item as it stands,
// a double as a 25-character field, an int32 as an 11-character field. Items
// after the first are preceded by a separator blank, except a text item that
// follows another text item.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qel {

// The 25-character list-directed rendering of a double (17 significant digits,
// fixed or scientific form, NaN and infinities right-justified).
std::string list_real(double x);

// The same rendering without the padding of its field, for messages.
std::string real_text(double x);

// The 11-character rendering of an int32.
std::string list_int(std::int32_t n);

// A fixed-point field of the diagnostic line: `decimals` digits after the
// point, right-justified in `width`, asterisks when it does not fit.
std::string fixed_field(double x, int width, int decimals);

// A list-directed output record under construction.
class Record {
 public:
  Record() : line_(" ") {}
  Record& operator<<(std::string_view text);  // text item as it stands
  Record& operator<<(const char* text) { return *this << std::string_view(text); }
  Record& operator<<(const std::string& text) { return *this << std::string_view(text); }
  Record& operator<<(double x);              // 25-character field
  Record& operator<<(std::int32_t n);        // 11-character field
  const std::string& str() const { return line_; }

 private:
  enum class Item { none, text, number };
  std::string line_;
  Item last_ = Item::none;  // kind of the previous item
};

// Writes the record and a line end.
void write_record(std::ostream& out, const Record& rec);

}  // namespace qel
