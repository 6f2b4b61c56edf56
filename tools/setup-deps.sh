#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
set -euo pipefail
need=()
# libeigen3-dev for the double-precision direct solvers, libnetcdf-dev and
# netcdf-bin for qeltool nc and its tests, Debian's python3 modules for
# tools/qelplot.py (python3-pil for its GIF movies) and the xarray analysis,
# GNU parallel for examples/sweep, Slurm and munge for the test that runs
# the example job array on a private one-node cluster.
for pkg in cmake g++ make libgtest-dev libbenchmark-dev libeigen3-dev libnetcdf-dev netcdf-bin \
  python3-matplotlib python3-netcdf4 python3-pil python3-xarray parallel \
  slurmctld slurmd slurm-client munge; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi
