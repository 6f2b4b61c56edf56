#include "driver/levels.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "driver/file_io.hpp"
#include "driver/files.hpp"

namespace qel {

static_assert(std::endian::native == std::endian::little, "the companion file is little-endian");

namespace {

constexpr char kMagic[8] = {'Q', 'E', 'L', 'L', 'E', 'V', '0', '1'};
constexpr std::size_t kHeadWords = 4;    // digest, nr, nz, levels
constexpr std::size_t kHeadDoubles = 4;  // core, dtold1, dtold2, tacc
constexpr std::size_t kFieldCount = 8;   // two levels of four tendencies
constexpr std::size_t kSize = sizeof kMagic + 8 * (kHeadWords + kHeadDoubles) +
                              8 * kFieldCount * Field::size() + 8;

// The tendency fields in file order: each of zeta (u), b, v, w at kold, then
// at kolder.
template <class S, class F>
void for_each_level(S& s, int kold, int kolder, F&& f) {
  for (int k : {kold, kolder})
    for (auto* t : {&s.tends.tzeta, &s.tends.tb, &s.tends.tv, &s.tends.tw}) f(slot(*t, k));
}

// The core a USEPRIM value selects: -1 none, 0 vorticity, 1 primitive.
int core_of(double useprim) { return useprim > 0.0 ? 1 : (useprim == 0.0 ? 0 : -1); }

}  // namespace

std::string levels_name(std::string_view dirnam, std::int64_t stamp) {
  std::string n = dump_name(dirnam, stamp);
  return n.replace(n.size() - 4, 4, ".lev");
}

void write_levels(const State& s, const StepCarry& c, std::uint64_t digest, const std::string& dump,
                  const std::string& name) {
  std::string rec(kSize, '\0');
  char* at = rec.data();
  auto put = [&](const void* p, std::size_t n) {
    std::memcpy(at, p, n);
    at += n;
  };
  put(kMagic, sizeof kMagic);
  const std::array<std::uint64_t, kHeadWords> words = {
      digest, std::uint64_t(NR), std::uint64_t(NR), std::uint64_t(c.levels)};
  put(words.data(), sizeof words);
  const std::array<double, kHeadDoubles> head = {s.par.USEPRIM, c.dtold1, c.dtold2, c.tacc};
  put(head.data(), sizeof head);
  for_each_level(s, c.kold, c.kolder, [&](const Field& f) { put(f.data(), 8 * f.size()); });
  const std::uint64_t own = file_io::fnv1a(reinterpret_cast<const unsigned char*>(rec.data()), kSize - 8);
  put(&own, 8);
  write_atomically(name, rec, "companion file " + name + " of dump " + dump);
}

std::string read_levels(State& s, StepCarry& c, std::uint64_t digest, const std::string& dump,
                        const std::string& name) {
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) return "missing";
  std::string rec;
  try {
    rec = read_regular_file(name, "companion file");
  } catch (const Stop& e) {
    return e.what();
  }
  if (rec.size() != kSize || std::memcmp(rec.data(), kMagic, sizeof kMagic) != 0)
    return name + " is not a companion file of this version (" + std::to_string(rec.size()) +
           " bytes)";
  const auto* bytes = reinterpret_cast<const unsigned char*>(rec.data());
  std::uint64_t own = 0;
  std::memcpy(&own, bytes + kSize - 8, 8);
  if (own != file_io::fnv1a(bytes, kSize - 8)) return name + " is damaged (its digest does not match)";
  std::array<std::uint64_t, kHeadWords> words{};
  std::array<double, kHeadDoubles> head{};
  const unsigned char* at = bytes + sizeof kMagic;
  std::memcpy(words.data(), at, sizeof words);
  at += sizeof words;
  std::memcpy(head.data(), at, sizeof head);
  at += sizeof head;
  if (words[0] != digest)
    return name + " belongs to another dump than " + dump + " (the dump was replaced or changed)";
  if (words[1] != std::uint64_t(NR) || words[2] != std::uint64_t(NR))
    return name + " was written on a grid of " + std::to_string(words[1]) + " x " +
           std::to_string(words[2]) + " points, not " + std::to_string(NR) + " x " +
           std::to_string(NR);
  if (core_of(head[0]) != core_of(s.par.USEPRIM))
    return name + " holds the tendencies of the " +
           (core_of(head[0]) > 0 ? "primitive" : "vorticity") +
           " core, and this run uses another (USEPRIM was changed)";
  if (words[3] > 2) return name + " is damaged (it names " + std::to_string(words[3]) + " levels)";
  c.kold = 2;
  c.kolder = 3;
  c.levels = std::int32_t(words[3]);
  c.dtold1 = head[1];
  c.dtold2 = head[2];
  c.tacc = head[3];
  for_each_level(s, c.kold, c.kolder, [&](Field& f) {
    std::memcpy(f.data(), at, 8 * f.size());
    at += 8 * f.size();
  });
  return "";
}

}  // namespace qel
