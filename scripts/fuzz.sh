#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (under ASan and UBSan) in
# build-fuzz/ and runs them:
#   scripts/fuzz.sh [TARGET|all] [SECONDS]      (default: all, 30 seconds each)
# Each target starts from a scratch copy of fuzz/corpus/TARGET/ and its saved
# findings, so the corpus in the repository stays as it is. Whatever makes a
# target fail (a crash, a failed check, a leak, a time-out, running out of
# memory) is copied into fuzz/findings/TARGET/, where the tests replay it
# from then on; the script then exits non-zero. Targets run one after the
# other, niced.
set -euo pipefail
cd "$(dirname "$0")/.."

TARGETS=(archive http_response service_request profile_file timestamp)
target=${1:-all}
seconds=${2:-30}
case $seconds in '' | *[!0-9]*) echo "fuzz.sh: SECONDS must be a number" >&2; exit 2 ;; esac
if [ "$target" = all ]; then
  run=("${TARGETS[@]}")
else
  case " ${TARGETS[*]} " in *" $target "*) run=("$target") ;;
    *) echo "fuzz.sh: unknown target $target (one of: ${TARGETS[*]}, all)" >&2; exit 2 ;;
  esac
fi

scripts/setup.sh

# The largest input each target takes: room for what its bounds are about
# (the client's 64 KiB response head, a part head of 16 KiB, volume sets).
max_len() {
  case $1 in
    archive) echo 32768 ;;
    http_response) echo 131072 ;;
    service_request) echo 65536 ;;
    profile_file) echo 16384 ;;
    timestamp) echo 256 ;;
  esac
}

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVZ_FUZZ=ON -DVZ_BUILD_APP=OFF -DVZ_BUILD_TESTS=OFF -DVZ_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${run[@]/#/fuzz_}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
scratch=
trap 'if [ -n "$scratch" ]; then rm -rf "$scratch"; fi' EXIT
for t in "${run[@]}"; do
  work=$build/run/$t
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$t"/* "$work/corpus/"
  find fuzz/findings/"$t" -maxdepth 1 -type f ! -name '.*' -exec cp {} "$work/corpus/" \;
  dict=()
  if [ -f fuzz/dict/"$t".dict ]; then dict=(-dict=fuzz/dict/"$t".dict); fi
  echo "== fuzz_$t for ${seconds}s"
  status=0
  # A private TMPDIR, in memory when there is room (the targets write and
  # sync many small files): what a target leaves when it dies goes with it.
  scratch=$(mktemp -d /dev/shm/vz-fuzz.XXXXXX 2>/dev/null || mktemp -d "${TMPDIR:-/tmp}/vz-fuzz.XXXXXX")
  TMPDIR=$scratch nice "$build/fuzz/fuzz_$t" "$work/corpus" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len="$(max_len "$t")" \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$work/log" 2>&1 || status=$?
  rm -rf "$scratch"
  scratch=
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE' "$work/log" || true
  found=$(find "$work/artifacts" -type f | sort)
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    failed+=("$t")
    grep -E -A30 '==ERROR|==fuzz check failed|runtime error|SUMMARY|ALARM|out-of-memory' "$work/log" | head -60 >&2 || true
    for f in $found; do
      cp "$f" fuzz/findings/"$t"/
      echo "fuzz.sh: $t: saved fuzz/findings/$t/$(basename "$f")" >&2
    done
    if [ -z "$found" ]; then
      echo "fuzz.sh: $t ended with status $status and saved nothing; see $work/log" >&2
    fi
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: no findings."
