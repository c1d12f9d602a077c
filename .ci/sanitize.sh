#!/usr/bin/env bash
# Builds everything, tests included, with ASan and UBSan (-DCOOLRUNG_SANITIZE=ON)
# in its own build directory and runs the whole test suite: the in-process
# tests and every coolrung the binary tests start run under the sanitizers,
# and the first finding fails the test that met it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${SANITIZE_BUILD_DIR:-build-asan}

. .ci/lib.sh
need cmake cmake
need g++ g++
need libgtest-dev /usr/include/gtest/gtest.h
# The emulated thinkpad_acpi (FUSE) for the Linux tests.
need pkg-config pkg-config
need fuse3 fusermount3
need libfuse3-dev /usr/include/fuse3/fuse.h
install_missing sanitize

# halt_on_error: a finding ends the process, so the test sees it fail.
# handle_segv/sigbus/sigfpe=0: the tests send these signals from outside
# (also before the daemon installs its handlers, and to a child between
# fork and exec) and check how the process ends; ASan's own handler would
# report them as crashes.  Memory errors are still caught by the
# instrumentation, and a real fault still kills the process.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Debug: quicker to build, and the reports point at the very line.
cmake -S . -B "$build" -DCOOLRUNG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
    -DCOOLRUNG_TESTS=ON
cmake --build "$build" -j2
ctest --test-dir "$build" -j8 --output-on-failure
