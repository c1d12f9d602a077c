#!/usr/bin/env bash
# Static checks: warning-free builds (-Wall -Wextra -Wpedantic -Werror) with
# g++ and clang++, clang-tidy (.clang-tidy, findings are errors), cppcheck,
# and the FreeBSD side (tests/freebsd/check.sh): the tree configured for
# FreeBSD and built here with stand-ins for what the host lacks, and, when
# the machine has FreeBSD's headers ($FREEBSD_SYSROOT_TARBALL, .ci/lib.sh),
# every source of that configuration type-checked against them.  Each build
# has a directory of its own, so the script gives the same verdict however
# often it runs and whatever ran before it.
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
# The emulated thinkpad_acpi (FUSE) for the Linux tests.
need pkg-config pkg-config
need fuse3 fusermount3
need libfuse3-dev /usr/include/fuse3/fuse.h
# libFuzzer and the sanitizer runtimes of Debian's clang.
need libclang-rt-dev '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
if [ -f "$FREEBSD_SYSROOT_TARBALL" ]; then
	need xz-utils xz
fi
install_missing static

echo "static: g++ -Werror"
CC=gcc CXX=g++ cmake -S . -B "$build-gcc" -DCOOLRUNG_WERROR=ON \
    -DCOOLRUNG_TESTS=ON >/dev/null
cmake --build "$build-gcc" -j2

# The clang build also builds the fuzzer and gives clang-tidy its
# compile database.
echo "static: clang++ -Werror"
CC=clang CXX=clang++ cmake -S . -B "$build-clang" -DCOOLRUNG_WERROR=ON \
    -DCOOLRUNG_TESTS=ON -DCOOLRUNG_FUZZ=ON \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build-clang" -j2

echo "static: clang-tidy"
# The FreeBSD side is not in this compile database: step 4 builds it.
mapfile -t tidy_files < <(ls src/*.cpp sim/*.cpp emulator/*.cpp fuzz/*.cpp \
    tools/preview/*.cpp | grep -v '^src/platform_freebsd\.cpp$')
# "N warnings generated." counts the system headers' warnings, which are
# not shown; only the findings in our files are.
# Two at a time, a few files each: the machine's two cores.
tidy_log=$(mktemp)
tidy_status=0
printf '%s\n' "${tidy_files[@]}" |
    xargs -P 2 -n 4 clang-tidy --quiet -p "$build-clang" >"$tidy_log" 2>&1 ||
    tidy_status=$?
grep -v '^[0-9]* warnings generated\.$' "$tidy_log" || true
rm -f "$tidy_log"
[ "$tidy_status" -eq 0 ]

echo "static: cppcheck"
cppcheck --enable=warning,performance,portability --error-exitcode=1 \
    --inline-suppr --std=c++20 --language=c++ --quiet -I src -I sim \
    -I emulator src/ sim/ emulator/ tools/preview/

echo "static: FreeBSD side"
if [ -f "$FREEBSD_SYSROOT_TARBALL" ]; then
	sh tests/freebsd/check.sh -s "$FREEBSD_SYSROOT_TARBALL" "$build-freebsd"
else
	echo "static: SKIPPED: the check against FreeBSD's own headers" \
	    "($FREEBSD_SYSROOT_TARBALL not found)"
	sh tests/freebsd/check.sh "$build-freebsd"
fi

echo "static: all checks passed"
