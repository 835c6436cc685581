#!/usr/bin/env bash
# Runs each fuzz target for FUZZ_SECONDS, starting from its seed corpus in the
# repository. New inputs go to the build directory, never into the seeds; a
# crash, a hang or a sanitizer report leaves its input there and fails the run.
# Replay one with: build-fuzz/bin/fuzz_<target> <input file>
set -uo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
here=$(cd "$(dirname "$0")" && pwd)

declare -A max_len=([contactconverter]=65507 [outbox]=16384 [profilefile]=8192 [replyverdict]=4096 [settinglists]=1024)
failed=()
for target in contactconverter outbox profilefile replyverdict settinglists; do
  work="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target"
  mkdir -p "$work" "$artifacts"
  dictionary=()
  [ -f "$here/$target.dict" ] && dictionary=(-dict="$here/$target.dict")
  echo "== fuzz_$target for ${seconds}s"
  if ! "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$target]}" -print_final_stats=1 -artifact_prefix="$artifacts/" "${dictionary[@]}" \
      "$work" "$here/corpus/$target" 2>"$build/fuzz_$target.log"; then
    failed+=("$target")
    tail -40 "$build/fuzz_$target.log"
  fi
  grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/fuzz_$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}; inputs in $build/fuzz-artifacts/" >&2
  exit 1
fi
echo "fuzz: no findings"
