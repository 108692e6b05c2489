#!/usr/bin/env bash
# A one-node Slurm cluster for the tests: munged, slurmctld and slurmd run as plain
# daemons (no init system) with their own key, configuration, spool, state and logs in a
# temporary folder, the node sized as `slurmd -C` finds this machine, on free ports.
#
#   scripts/local-slurm.sh start LINK   # LINK becomes a link to the cluster's folder;
#                                       # SLURM_CONF=LINK/slurm.conf talks to it
#   scripts/local-slurm.sh stop LINK    # cancels its jobs, stops its daemons, removes both
#
# The process that runs the script (ctest, for the test fixture) owns the cluster. A
# second owner that starts the same LINK while it runs shares it, and only the last
# owner's stop ends it; a watcher ends it too once every owner has gone without stopping
# it (a test run killed half-way). A stop from a process that owns none stops it at once.
#
# Clusters of different LINKs run side by side: each has its own folder, ports and munge
# socket, and a stop ends only the processes of its own cluster, found by their process
# ids (pid files, and the marker KSTROKE_LOCAL_SLURM=<folder> in the environment of the
# daemons and of the step daemons slurmd starts for jobs).
#
# Where Slurm cannot run at all (its programs are not installed, or its daemons cannot
# run as this user) `start` makes LINK a folder whose file `unavailable` says why, and
# succeeds, so the tests that need the cluster skip with that reason. Any other failure
# to start prints the daemons' logs and fails.
set -uo pipefail
# The daemons live in sbin, which a user's PATH often lacks.
PATH=$PATH:/usr/sbin:/sbin

usage() {
  echo "usage: $0 start|stop LINK" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action=$1
link=$2

log() { echo "local-slurm: $*" >&2; }

unavailable() {
  stop_now
  mkdir -p "$link"
  echo "$*" >"$link/unavailable"
  log "Slurm cannot run here: $*"
  exit 0
}

# Whether something listens on TCP port $1 of the loopback address.
port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 40000))
    port_taken "$p" || port_taken "$((p + 1))" || { echo "$p"; return 0; }
  done
  return 1
}

pid_of() { [ -s "$1" ] && cat "$1"; }

# Whether process $1 runs, whoever owns it. An ended daemon whose parent does not reap
# it (pid 1 in some containers) stays a zombie, which counts as ended.
alive() {
  [ -n "${1:-}" ] || return 1
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Ends process $1 (by id): SIGTERM, then SIGKILL after about five seconds.
end_process() {
  local pid=$1
  alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 50); do
    alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  sleep 0.1
}

# Processes that carry this cluster's marker in their environment: its daemons and
# the step daemons slurmd started for its jobs.
marked_processes() {
  local dir=$1 p
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" = "$$" ] && continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "KSTROKE_LOCAL_SLURM=$dir" &&
      echo "${p#/proc/}"
  done
}

show_logs() {
  local f
  for f in "$1"/log/*; do
    [ -f "$f" ] || continue
    echo "---- $f (last lines)" >&2
    tail -n 15 "$f" >&2
  done
}

# Stops the cluster whatever its owners, and removes its folder and LINK.
stop_now() {
  if [ ! -L "$link" ]; then
    rm -rf "$link"
    return 0
  fi
  local dir
  dir=$(readlink "$link")
  export SLURM_CONF="$dir/slurm.conf"
  local ctld
  ctld=$(pid_of "$dir/slurmctld.pid")
  if alive "$ctld"; then
    # Jobs first, so that no step daemon or task outlives the node.
    scancel --quiet --user="$(id -un)" 2>/dev/null
    for _ in $(seq 1 100); do
      [ -z "$(squeue --noheader 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  end_process "$(pid_of "$dir/slurmd.pid")"
  end_process "$ctld"
  local p
  for p in $(marked_processes "$dir"); do
    [ "$p" = "$(pid_of "$dir/munged.pid")" ] || end_process "$p"
  done
  end_process "$(pid_of "$dir/munged.pid")"
  rm -rf "$dir"
  rm -f "$link"
}

# The owners still alive, one pid a line; rewrites the list without the others.
live_owners() {
  local dir=$1 o
  [ -f "$dir/owners" ] || return 0
  for o in $(cat "$dir/owners"); do alive "$o" && echo "$o"; done >"$dir/owners.new"
  mv "$dir/owners.new" "$dir/owners"
  cat "$dir/owners"
}

running() { [ -L "$link" ] && alive "$(pid_of "$(readlink "$link")/slurmctld.pid")"; }

stop() {
  if running; then
    local dir
    dir=$(readlink "$link")
    if grep -qx "$owner" "$dir/owners" 2>/dev/null; then
      grep -vx "$owner" "$dir/owners" >"$dir/owners.new"
      mv "$dir/owners.new" "$dir/owners"
      if [ -n "$(live_owners "$dir")" ]; then
        log "left running for its other owners"
        return 0
      fi
    fi
  fi
  stop_now
}

# Ends the cluster once no owner is left alive; runs detached, outside the marker.
watch() {
  while sleep 2; do
    # Opened for reading, so a lock file removed with its folder is not made again.
    exec 9<"$link.lock" 2>/dev/null || exit 0
    flock 9
    running || exit 0
    if [ -z "$(live_owners "$(readlink "$link")")" ]; then
      stop_now
      exit 0
    fi
    exec 9>&-
  done
}

# A cluster that did not come up: as root that is a failure, with the logs; as another
# user the daemons may simply not run without root.
not_started() {
  local dir
  dir=$(readlink "$link")
  if [ "$(id -u)" -ne 0 ]; then
    unavailable "$1 as $(id -un), not root: $(tail -qn 1 "$dir"/log/slurm*.log 2>/dev/null | tail -n 1)"
  fi
  log "$1"
  show_logs "$dir"
  stop_now
  exit 1
}

start() {
  local program
  for program in munged slurmctld slurmd sbatch squeue scontrol scancel; do
    command -v "$program" >/dev/null ||
      unavailable "$program is not installed (Debian packages slurm-wlm and munge)"
  done
  if running; then
    echo "$owner" >>"$(readlink "$link")/owners"
    log "sharing the cluster already running in $(readlink "$link")"
    return 0
  fi
  [ -e "$link" ] && stop_now

  local dir
  dir=$(mktemp -d /tmp/kstroke-slurm.XXXXXX) || exit 1
  chmod 0711 "$dir"  # munged wants its socket's folder open to every client
  mkdir -p "$dir/state" "$dir/spool" "$dir/log"
  ln -s "$dir" "$link"
  echo "$owner" >"$dir/owners"
  # Started before the marker is set, so a stop never ends it; fd 9 (the lock) closed in
  # it and in every daemon, or they would hold the lock for good.
  setsid bash "$(readlink -f "$0")" watch "$link" </dev/null >/dev/null 2>&1 9>&- &
  export KSTROKE_LOCAL_SLURM="$dir"
  export SLURM_CONF="$dir/slurm.conf"

  # munge: a key of our own, so nothing of the system's installation is needed or used.
  if ! head -c 1024 /dev/urandom >"$dir/munge.key" || ! chmod 0400 "$dir/munge.key"; then
    unavailable "cannot make a munge key in $dir"
  fi
  local force=()
  [ "$(id -u)" -eq 0 ] && force=(--force)  # munged refuses root without it
  if ! munged "${force[@]}" --key-file="$dir/munge.key" --socket="$dir/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/log/munged.log" \
    --seed-file="$dir/munge.seed" </dev/null >>"$dir/log/munged.log" 2>&1 9>&-; then
    [ "$(id -u)" -ne 0 ] && unavailable "munged does not run as $(id -un): $(tail -n 1 "$dir/log/munged.log")"
    show_logs "$dir"
    stop_now
    exit 1
  fi

  # The node as slurmd sees it: CPUs, sockets, cores, threads and memory.
  local node
  node=$(slurmd -C | head -n 1 | sed 's/^NodeName=[^ ]*//')
  local host
  host=$(hostname -s)
  local user
  user=$(id -un)
  local ctldport slurmdport
  ctldport=$(free_port) && slurmdport=$((ctldport + 1)) || {
    log "no free port pair found"
    stop_now
    exit 1
  }
  cat >"$dir/slurm.conf" <<EOF
# A one-node test cluster (scripts/local-slurm.sh); everything lives in $dir.
ClusterName=kstroke
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctldport
SlurmdPort=$slurmdport
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
KillWait=2
MinJobAge=600
InactiveLimit=0
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=kstroke-node NodeHostname=$host NodeAddr=127.0.0.1$node State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
  : >"$dir/plugstack.conf"

  if ! slurmctld -i </dev/null >>"$dir/log/slurmctld.log" 2>&1 9>&- ||
    ! slurmd -N kstroke-node </dev/null >>"$dir/log/slurmd.log" 2>&1 9>&-; then
    not_started "a daemon did not start"
  fi
  # Ready once the node has registered and is idle.
  local state=""
  for _ in $(seq 1 150); do
    state=$(sinfo --noheader --Node --format=%T 2>/dev/null | head -n 1)
    [ "$state" = "idle" ] && break
    sleep 0.2
  done
  if [ "$state" != "idle" ]; then
    not_started "the node did not come up (state: ${state:-none})"
  fi
  log "cluster up in $dir (slurmctld on port $ctldport, node$node); SLURM_CONF=$link/slurm.conf"
}

owner=${KSTROKE_SLURM_OWNER:-$PPID}
case $action in
  start | stop)
    # One start or stop of a LINK at a time.
    exec 9>"$link.lock"
    flock 9
    "$action"
    ;;
  watch) watch ;;
  *) usage ;;
esac
