#!/bin/sh
# Checks the FreeBSD side of the tree on another system, against stand-ins
# for the FreeBSD headers (include/: FreeBSD's prototypes, the host's
# headers underneath; the host provides <sys/socket.h>, <sys/un.h> and
# <syslog.h> as FreeBSD does).
#
#  1. src/platform_freebsd.cpp alone, with each compiler found (c++,
#     clang++): a call with the wrong number of arguments, a pointer of the
#     wrong type, or a value narrowed into a parameter (-Wconversion: size_t
#     into u_int) fails.
#  2. The whole tree configured as for FreeBSD (-DCMAKE_SYSTEM_NAME=FreeBSD
#     -DCOOLRUNG_FREEBSD_STANDINS=ON) and built with -Werror: every source
#     that configuration compiles must compile, the daemon must link the
#     FreeBSD side (its calls stood in for by standin_calls.cpp) and
#     nothing else must: the tests and coolrung-sim link the simulated
#     kernel.
#  3. The FreeBSD side defines exactly the platform_* symbols the simulated
#     kernel defines (mangled names carry the parameter types): a definition
#     with other parameters would be a new overload, not an error.
#
# Usage: check.sh [build-dir]   (default build-freebsd, kept between runs)
set -eu
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build-freebsd}

flags="-std=c++20 -Wall -Wextra -Werror -Wconversion -Wsign-conversion
    -Wmissing-declarations"
compilers=
for cxx in ${CHECK_CXX:-c++ clang++}; do
	command -v "$cxx" >/dev/null 2>&1 && compilers="$compilers $cxx"
done
if [ -z "$compilers" ]; then
	echo "freebsd-check: no C++ compiler" >&2
	exit 1
fi

# 1.
status=0
for cxx in $compilers; do
	# shellcheck disable=SC2086
	if $cxx $flags -fsyntax-only -I tests/freebsd/include -I src \
	    src/platform_freebsd.cpp; then
		echo "freebsd-check: $cxx: src/platform_freebsd.cpp type-checks"
	else
		echo "freebsd-check: $cxx: src/platform_freebsd.cpp does not" \
		    "type-check" >&2
		status=1
	fi
done
[ "$status" -eq 0 ] || exit 1

# 2.  Debug: the quickest build that compiles everything.  GoogleTest is
# looked for where the host keeps it, which a FreeBSD configure does not.
cxx=${compilers# }
cxx=${cxx%% *}
multiarch=$($cxx -print-multiarch 2>/dev/null || true)
CXX=$cxx cmake -S . -B "$build" -DCMAKE_SYSTEM_NAME=FreeBSD \
    ${multiarch:+-DCMAKE_LIBRARY_ARCHITECTURE=$multiarch} \
    -DCOOLRUNG_FREEBSD_STANDINS=ON -DCOOLRUNG_TESTS=ON -DCOOLRUNG_WERROR=ON \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" -j2 >"$build/check.log" 2>&1 || {
	cat "$build/check.log" >&2
	echo "freebsd-check: the FreeBSD configuration does not build" >&2
	exit 1
}
sources=$(grep -c '"file":' "$build/compile_commands.json")
if ! grep -q '"file": "[^"]*/src/platform_freebsd.cpp"' \
    "$build/compile_commands.json"; then
	echo "freebsd-check: the FreeBSD configuration does not compile" \
	    "src/platform_freebsd.cpp" >&2
	exit 1
fi
# Every object of the compile database was built.
missing=$(awk '/"directory":/ { split($0, d, "\""); dir = d[4] }
	/"command":/ && match($0, / -o [^ ]+ /) {
		print dir "/" substr($0, RSTART + 4, RLENGTH - 5) }' \
    "$build/compile_commands.json" | while read -r object; do
	[ -f "$object" ] || echo "$object"
done)
if [ -n "$missing" ]; then
	echo "freebsd-check: not compiled: $missing" >&2
	exit 1
fi
echo "freebsd-check: $cxx: $sources sources of the FreeBSD configuration compile"

defines() {
	nm --defined-only -g "$1" 2>/dev/null | awk -v s="$2" '$3 == s' | grep -q .
}
if ! defines "$build/coolrung" kldfind || \
    defines "$build/coolrung" _Z16sim_kernel_resetv; then
	echo "freebsd-check: coolrung does not link the FreeBSD side alone" >&2
	exit 1
fi
for program in $(find "$build" -name CMakeFiles -prune -o -type f \
    -perm -u+x ! -name '*.so' -print); do
	if [ "$program" != "$build/coolrung" ] && defines "$program" kldfind; then
		echo "freebsd-check: $program links the FreeBSD side" >&2
		exit 1
	fi
done
if ! defines "$build/sim/coolrung" _Z16sim_kernel_resetv; then
	echo "freebsd-check: coolrung-sim does not link the simulated kernel" >&2
	exit 1
fi
echo "freebsd-check: coolrung links the FreeBSD side, the tests and" \
    "coolrung-sim the simulated kernel"

# 3.
platform_calls() {
	nm --defined-only -g "$1" | awk '$3 ~ /platform_/ { print $3 }' | sort
}
platform_calls "$build/libcoolrung_sim_kernel.a" >"$build/sim.syms"
platform_calls "$build/libcoolrung_platform.a" >"$build/freebsd.syms"
if [ ! -s "$build/sim.syms" ]; then
	echo "freebsd-check: no platform call found in the simulated kernel" >&2
	exit 1
fi
if ! diff -u "$build/sim.syms" "$build/freebsd.syms" >"$build/syms.diff"; then
	echo "freebsd-check: the FreeBSD side does not define the calls of" \
	    "src/platform.h as the simulated kernel does (- sim, + FreeBSD):" >&2
	c++filt <"$build/syms.diff" >&2
	exit 1
fi
echo "freebsd-check: $(wc -l <"$build/sim.syms") platform calls match" \
    "src/platform.h"
