#include "model/version.hpp"

#include "qel_revision.hpp"

namespace qel {

const char* source_revision() { return QEL_REVISION; }

std::string version_text() {
  return std::string(QEL_VERSION) + " (revision " + QEL_REVISION + ")";
}

}  // namespace qel
