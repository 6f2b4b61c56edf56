// The console layer: list-directed input on any stream (the output records
// are rendered by model/render.hpp, which this header brings in).
//
// Input: each read statement starts at the next line and takes items
// separated by blanks, one comma or line ends; a slash ends it early. Two commas in a row (an empty item) are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "model/render.hpp"
#include "model/state.hpp"

namespace qel {

// A real constant in any list-directed form (1, 1., .5, 1.5e-3, 1.5E-3,
// 1.5d-3, 1.5D-3, optionally signed, or NaN, Inf, Infinity in any letter
// case) converted to the nearest double. A magnitude beyond the double range
// is `too_large`; one below it reads as a zero of the same sign.
enum class RealText { ok, not_real, too_large };
RealText parse_real(std::string_view text, double& v);

// An optionally signed decimal integer within the int32 (int64) range.
bool parse_integer(std::string_view text, std::int32_t& v);
bool parse_integer(std::string_view text, std::int64_t& v);

// The longest input line read; a longer one is refused rather than buffered
// without limit.
inline constexpr std::size_t kMaxLine = std::size_t(1) << 20;

// List-directed input from one stream. `source` names the stream in messages
// ("standard input" or a file name). Every failure throws qel::Stop with
// status 2 and a message naming the source, the line, the offending text and
// what was expected.
class ListReader {
 public:
  ListReader(std::istream& in, std::string source);

  // Starts a read statement at the next line of the stream.
  void begin();
  // The next item of the statement. False when a slash has ended the
  // statement (the value is left unchanged). `what` names the item for
  // messages ("the restart stamp").
  // With `slash_ends` false an unquoted text runs on over slashes (a path),
  // to a blank, comma or line end.
  bool text(std::string& v, std::string_view what, bool slash_ends = true);
  bool real(double& v, std::string_view what);
  bool integer(std::int32_t& v, std::string_view what);
  bool integer(std::int64_t& v, std::string_view what);
  // Ends the statement: the rest of its last line is discarded.
  void end();

  // Whole lines, for the namelist reader, which shares the line count.
  bool getline(std::string& line);
  const std::string& source() const { return source_; }
  int line_number() const { return line_no_; }

  // The exception for a failure at the current line: "<source>, line <n>: "
  // followed by `message`.
  Stop error(std::string_view message) const;

 private:
  enum class Next { item, slash };
  bool next_line();
  Next advance(std::string_view what, bool slash_ends = true);
  std::string_view token(bool slash_ends = true);
  [[noreturn]] void bad_item(std::string_view found, std::string_view kind,
                             std::string_view what) const;

  std::istream& in_;
  std::string source_;
  std::string line_;       // the current line
  std::size_t pos_ = 0;    // position in the current line
  int line_no_ = 0;        // lines read so far
  bool in_statement_ = false;
  bool slashed_ = false;
  bool have_line_ = false;
  bool comma_open_ = false;  // the previous item's separator may still take a comma
};

// Reads one whole list-directed statement of a single item (the common case
// of the dialogue); throws qel::Stop when the statement ends with no item.
std::string read_text(ListReader& in, std::string_view what);
// A path: unquoted, it is taken whole up to a blank, comma or line end.
std::string read_path(ListReader& in, std::string_view what);
double read_real(ListReader& in, std::string_view what);
std::int32_t read_integer(ListReader& in, std::string_view what);
std::int64_t read_integer64(ListReader& in, std::string_view what);

}  // namespace qel
