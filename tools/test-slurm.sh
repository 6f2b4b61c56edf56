#!/usr/bin/env bash
# Test of examples/sweep/sweep-REI.sbatch on a real Slurm: a one-node
# cluster on this machine (Debian's slurmctld, slurmd and munge), private to
# the test: its own munge key and socket, a minimal slurm.conf, free ports on
# 127.0.0.1 only, state, logs and pid files in a temporary directory. The
# script is submitted from the repository root as a 4-member array with
# `sbatch --wait`; each member must leave its dumps and a history with its
# own REI. The daemons started here are stopped in every case and the
# directory removed. Skipped (status 77) where they cannot start: not root,
# or the packages missing (Debian: apt-get install slurmctld slurmd
# slurm-client munge). When they should start but do not, the test fails
# and shows their logs.
#   tools/test-slurm.sh QELTOOL
set -euo pipefail
qeltool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
root="$(cd "$(dirname "$0")/.." && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "a private Slurm cluster needs root"
for p in munged slurmctld slurmd sbatch scontrol sinfo scancel; do
  command -v "$p" >/dev/null || [ -x "/usr/sbin/$p" ] ||
    skip "$p is missing (Debian: apt-get install slurmctld slurmd slurm-client munge)"
done
export PATH="$PATH:/usr/sbin"

tmp="$(mktemp -d /tmp/qel-slurm.XXXXXX)"
chmod 755 "$tmp"
pids=()
logs() {
  for f in "$tmp"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }; done
}
fail() { echo "FAIL: $*"; logs; exit 1; }
# The step daemons of this cluster, found by the configuration file in their
# environment (other clusters on the machine are left alone).
stepds() {
  local p
  for p in $(pgrep -x slurmstepd 2>/dev/null || true); do
    { tr '\0' '\n' <"/proc/$p/environ" | grep -qx "SLURM_CONF=$tmp/slurm.conf" && echo "$p"; } 2>/dev/null || true
  done
}
cleanup() {
  # Jobs first (their steps are children of slurmd's slurmstepd), then the
  # daemons in reverse order of starting, each by the pid recorded here.
  if [ -f "$tmp/slurm.conf" ]; then
    timeout 10 scancel --quiet --full "--name=qel-sweep-REI" >/dev/null 2>&1 || true
  fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    for _ in $(seq 50); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null || true
  done
  # A step daemon of this cluster that outlived slurmd.
  local p
  for p in $(stepds); do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Two free TCP ports on 127.0.0.1 (bound, read and released).
read -r ctlport dport < <(/usr/bin/python3 -c '
import socket
ss = [socket.socket() for _ in range(2)]
for s in ss: s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in ss])')

# munge with a private key and socket.
mkdir -m 700 "$tmp/munge"
dd if=/dev/urandom of="$tmp/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge/munge.key"
munged --foreground --force --key-file="$tmp/munge/munge.key" --socket="$tmp/munge/munge.socket" \
  --pid-file="$tmp/munge/munged.pid" --seed-file="$tmp/munge/seed" --log-file="$tmp/munged.log" \
  --num-threads=2 >"$tmp/munged.out.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$tmp/munge/munge.socket" ] && break; sleep 0.1; done
[ -S "$tmp/munge/munge.socket" ] || fail "munged did not start"

host="$(hostname -s)"
ncpu="$(nproc)"
mkdir "$tmp/state" "$tmp/spool"
cat >"$tmp/slurm.conf" <<EOF
ClusterName=qeltest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctlport
SlurmdPort=$dport
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge/munge.socket
CommunicationParameters=NoInAddrAny,NoCtldInAddrAny
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
MpiDefault=none
ReturnToService=2
MinJobAge=5
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=qelnode NodeAddr=127.0.0.1 NodeHostname=$host CPUs=$ncpu State=UNKNOWN
PartitionName=qel Nodes=qelnode Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$tmp/slurm.conf"

slurmctld -D -i -f "$SLURM_CONF" >"$tmp/slurmctld.out.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do scontrol ping 2>/dev/null | grep -q UP && break; sleep 0.2; done
scontrol ping 2>/dev/null | grep -q UP || fail "slurmctld did not answer"
slurmd -D -N qelnode -f "$SLURM_CONF" >"$tmp/slurmd.out.log" 2>&1 &
pids+=($!)
state=""
for _ in $(seq 150); do
  state="$(sinfo -h -n qelnode -o %T 2>/dev/null || true)"
  [ "$state" = idle ] && break
  sleep 0.2
done
[ "$state" = idle ] || fail "the node did not come up (state '$state')"

# The example as the README submits it, from the repository root, its
# members and their Slurm output in the temporary directory.
mkdir "$tmp/out"
cd "$root"
timeout 240 sbatch --wait --quiet --output="$tmp/out/slurm-%A_%a.out" \
  --export="ALL,SWEEP_OUT=$tmp/out,SWEEP_UNTIL=0.5,QELTOOL=$qeltool" \
  examples/sweep/sweep-REI.sbatch || fail "the job array did not complete (status $?): $(cat "$tmp"/out/slurm-*.out 2>/dev/null)"

for v in 1e-3 2e-3 5e-3 1e-2; do
  d="$tmp/out/REI-$v"
  [ -f "$d/qel.hist" ] || fail "member REI=$v wrote no qel.hist"
  [ "$(wc -l <"$d/qel.hist")" -gt 100 ] || fail "member REI=$v has no diagnostic line"
  # Line 8 of the history header is REI.
  awk -v want="$v" 'NR == 8 { exit !($1 + 0 == want + 0) }' "$d/qel.hist" ||
    fail "member REI=$v ran with REI $(sed -n 8p "$d/qel.hist")"
  ls "$d"/qel000000.dat "$d"/qel000500.dat >/dev/null 2>&1 || fail "member REI=$v dumps: $(ls "$d")"
done
# The step daemons end on their own once the array is done.
for _ in $(seq 100); do [ -z "$(stepds)" ] && break; sleep 0.1; done
[ "$(ls "$tmp"/out/slurm-*.out | wc -l)" -eq 4 ] || fail "not four array members: $(ls "$tmp/out")"
echo "slurm: the example job array ran its four members on a private one-node cluster"
