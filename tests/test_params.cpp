// The parameter reference: docs/parameters.md holds the table the program
// prints, and every place that names the parameters points to it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "driver/namelist.hpp"
#include "driver/qeln.hpp"
#include "tool_testing.hpp"
#include "qeltool/qeltool.hpp"

using namespace qel;
using namespace qel::testing;

TEST(Parameters, DocumentTableIsTheProgramsTable) {
  const std::string doc = slurp(QEL_SOURCE_DIR "/docs/parameters.md");
  const std::string marker =
      "<!-- The table below is the output of `qeltool params --markdown`; do not edit it by hand. "
      "-->\n";
  const std::size_t at = doc.find(marker);
  ASSERT_NE(at, std::string::npos) << "docs/parameters.md has lost its marker line";
  const Result r = call({"params", "--markdown"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(doc.substr(at + marker.size()), r.out)
      << "docs/parameters.md is out of date: run tools/update-parameters-doc.sh";
  // The rows marked "no" are exactly the members no computation reads.
  std::string unread;
  for (std::size_t k = r.out.find("| no |\n"); k != std::string::npos; k = r.out.find("| no |\n", k + 1)) {
    const std::size_t name = r.out.find('`', r.out.rfind('\n', k)) + 1;
    unread += r.out.substr(name, r.out.find('`', name) - name) + " ";
  }
  EXPECT_EQ(unread, "BDFON PRN EXTRA1 EXTRA2 EXTRA3 EXTRA4 ");
}

TEST(Parameters, OneMemberIsDescribedByNameInAnyCase) {
  // A name outside the group is refused.
  const Result one = call({"params", "swirl"}), bad = call({"params", "SWIRLS"});
  EXPECT_EQ(std::tuple(one.status, bad.status), std::tuple(0, 2));
  EXPECT_TRUE(one.out.starts_with("SWIRL (member 17 of group F)\n")) << one.out;
  EXPECT_NE(one.out.find("Coriolis"), std::string::npos);
  EXPECT_NE(bad.err.find("'SWIRLS' is not a parameter of group F"), std::string::npos) << bad.err;
}

TEST(Parameters, HelpAndUnknownNamesPointToTheReference) {
  const char* argv[] = {"qeln", "--help"};
  std::istringstream none;
  std::ostringstream out, err;
  EXPECT_EQ(run_command(2, argv, none, out, err), 0);
  EXPECT_NE(out.str().find("docs/parameters.md"), std::string::npos);
  EXPECT_NE(out.str().find("qeltool params"), std::string::npos);

  std::istringstream text(" &F REI=1e-3, REYNOLDS=1 /\n");
  ListReader rd(text, "qel.input");
  Par p{};
  try {
    read_namelist(rd, p);
    ADD_FAILURE() << "an unknown name was accepted";
  } catch (const Stop& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("unknown name \"REYNOLDS\""), std::string::npos) << what;
    EXPECT_NE(what.find("docs/parameters.md and 'qeltool params'"), std::string::npos) << what;
  }

  const Result t = call({"run", "/nonexistent", "--until", "1", "--dump-every", "1", "--diag-every", "1", "REYNOLDS=1"});
  EXPECT_EQ(t.status, 2);
  EXPECT_NE(t.err.find("'qeltool params'"), std::string::npos) << t.err;
}
