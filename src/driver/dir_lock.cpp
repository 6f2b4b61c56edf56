// The advisory lock that keeps two runs out of one experiment directory.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "driver/file_io.hpp"
#include "driver/files.hpp"

namespace qel {

using file_io::reason;

DirLock::~DirLock() {
  if (fd_ >= 0) ::close(fd_);
}

void DirLock::take(const std::string& dir, std::ostream& err, std::string_view program) {
  fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw Stop(2, "cannot use directory '" + dir + "': " + reason(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  const int e = errno;
  if (e == EWOULDBLOCK)
    throw Stop(2, "directory '" + dir +
                      "' is in use by another run (qeln, qeltool run or qeltool init); wait "
                      "for it to end or use another directory");
  // Some network file systems cannot lock: run, but say that nothing guards
  // the directory.
  err << program << ": warning: cannot lock directory '" << dir << "' (" << reason(e)
      << "); nothing stops a second run from writing there at the same time\n";
}

}  // namespace qel
