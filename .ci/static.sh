#!/usr/bin/env bash
# Static checks: warning-free builds (-Wall -Wextra -Wpedantic -Werror) with
# g++ and clang++, clang-tidy (.clang-tidy, findings are errors), cppcheck,
# and the type-check of the FreeBSD side against stand-in FreeBSD headers.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${STATIC_BUILD_DIR:-build-static}

. .ci/lib.sh
need cmake cmake
need g++ g++
need clang clang++
need clang-tidy clang-tidy
need cppcheck cppcheck
need libgtest-dev /usr/include/gtest/gtest.h
# libFuzzer and the sanitizer runtimes of Debian's clang.
need libclang-rt-dev '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
install_missing static

# CI has just built the whole tree with g++ and hands over that build's
# output in STATIC_GCC_LOG: a warning there fails this step as -Werror
# would, and the same build is not made twice.
if [ -n "${STATIC_GCC_LOG:-}" ]; then
	echo "static: g++ warnings, from $STATIC_GCC_LOG"
	if grep -E 'warning:' "$STATIC_GCC_LOG"; then
		echo "static: the g++ build has warnings"
		exit 1
	fi
else
	echo "static: g++ -Werror"
	CC=gcc CXX=g++ cmake -S . -B "$build-gcc" -DCOOLRUNG_WERROR=ON
	cmake --build "$build-gcc" -j2
fi

# The clang build also builds the fuzzer and gives clang-tidy its
# compile database.
echo "static: clang++ -Werror"
CC=clang CXX=clang++ cmake -S . -B "$build-clang" -DCOOLRUNG_WERROR=ON \
    -DCOOLRUNG_FUZZ=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build "$build-clang" -j2

echo "static: clang-tidy"
# The FreeBSD side cannot be compiled here: tests/freebsd/check.sh has it.
mapfile -t tidy_files < <(ls src/*.cpp sim/*.cpp fuzz/*.cpp \
    $( [ -d tools/preview ] && echo tools/preview/*.cpp ) |
    grep -v '^src/platform_freebsd\.cpp$')
# "N warnings generated." counts the system headers' warnings, which are
# not shown; only the findings in our files are.
tidy_log=$(mktemp)
tidy_status=0
clang-tidy --quiet -p "$build-clang" "${tidy_files[@]}" >"$tidy_log" 2>&1 ||
    tidy_status=$?
grep -v '^[0-9]* warnings generated\.$' "$tidy_log" || true
rm -f "$tidy_log"
[ "$tidy_status" -eq 0 ]

echo "static: cppcheck"
cppcheck --enable=warning,performance,portability --error-exitcode=1 \
    --inline-suppr --std=c++20 --language=c++ --quiet -I src -I sim src/ sim/

echo "static: FreeBSD side"
sh tests/freebsd/check.sh

echo "static: all checks passed"
