#!/usr/bin/env bash
# Fuzzes the configuration reader for about a minute (FUZZ_SECONDS) with
# libFuzzer under ASan and UBSan, from a copy of the checked-in seeds, so a
# run never grows the repository.  Fails on a crash and prints the input
# that caused it; keep such an input in fuzz/corpus/config/ under a name
# that tells what it is, once the reader is fixed.  Builds in a directory
# of its own (FUZZ_BUILD_DIR), which no other script configures.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}

. .ci/lib.sh
need cmake cmake
need clang clang++
# libFuzzer and the sanitizer runtimes of Debian's clang.
need libclang-rt-dev '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
install_missing fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCOOLRUNG_FUZZ=ON \
    -DCOOLRUNG_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target config_fuzzer config_messages_test
# The seeds reach every message of the reader, and replay clean.
ctest --test-dir "$build/fuzz" --output-on-failure

work=$(mktemp -d /tmp/coolrung-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/artifacts"
cp fuzz/corpus/config/* "$work/corpus/"

status=0
"$build/fuzz/config_fuzzer" "$work/corpus" \
    -dict=fuzz/config.dict -max_len=4096 -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1 || status=$?

# The last status line: "#N DONE ... exec/s: E ..."; then the totals.
grep -E '^#[0-9]+' "$work/log" | tail -n 1 || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
    "$work/log" || true

crashes=$(find "$work/artifacts" -type f)
if [ "$status" -ne 0 ] || [ -n "$crashes" ]; then
	echo "fuzz: the fuzzer failed (status $status)"
	tail -n 60 "$work/log"
	for f in $crashes; do
		echo "fuzz: input $f (base64):"
		base64 "$f"
	done
	exit 1
fi
echo "fuzz: no crash in ${seconds}s"
