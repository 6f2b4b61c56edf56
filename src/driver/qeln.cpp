#include "driver/qeln.hpp"

#include <ostream>

namespace qel {

int run(std::istream&, std::ostream&, std::ostream& err) {
  err << "qeln: the run driver is not built yet\n";
  return 1;
}

}  // namespace qel
