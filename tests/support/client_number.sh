# Sourced by the test and demo scripts: claims client numbers with the same flock the C++
# tests use, so scripts and parallel test runs never share boards. The claim lasts as long as
# the shell that sourced this file.

# reserve_client_number VAR: sets VAR to a free number and keeps its lock on a new descriptor.
reserve_client_number() {
  local var=$1 span=90000 start n i fd
  start=$(( (RANDOM * 32768 + RANDOM) % span ))
  for (( i = 0; i < span; i++ )); do
    n=$(( 10000 + (start + i) % span ))
    exec {fd}>>"/tmp/ztr_test_client_$n.lock" || continue
    if flock -n "$fd" && [ ! -e "/dev/shm/ZTR_IPC_RB($(printf '%04d' "$n"))" ]; then
      printf -v "$var" '%s' "$n"
      return 0
    fi
    exec {fd}>&-
  done
  echo "no free client number" >&2
  return 1
}
