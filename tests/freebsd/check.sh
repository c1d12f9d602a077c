#!/bin/sh
# Type-checks the FreeBSD side (src/platform_freebsd.cpp), which cannot be
# built here, against stand-ins for the FreeBSD headers it includes
# (include/: FreeBSD's prototypes, the host's headers underneath).
#
#  1. Compiles it with each compiler found (c++, clang++): a call with the
#     wrong number of arguments, a pointer of the wrong type, or a value
#     narrowed into a parameter (-Wconversion: size_t into u_int) fails.
#  2. Checks its definitions against src/platform.h: a definition with
#     other parameters would be a new overload, not an error, so it must
#     have a declaration (-Wmissing-declarations), and the platform_*
#     symbols it defines must be exactly those the simulated kernel defines
#     (mangled names carry the parameter types).
#
# Usage: check.sh [file]   (default src/platform_freebsd.cpp)
set -eu
cd "$(dirname "$0")/../.."

source_file=${1:-src/platform_freebsd.cpp}
flags="-std=c++20 -Wall -Wextra -Werror -Wconversion -Wsign-conversion
    -Wmissing-declarations"
work=$(mktemp -d /tmp/coolrung-freebsd.XXXXXX)
trap 'rm -rf "$work"' EXIT

compilers=
for cxx in ${CHECK_CXX:-c++ clang++}; do
	command -v "$cxx" >/dev/null 2>&1 && compilers="$compilers $cxx"
done
if [ -z "$compilers" ]; then
	echo "freebsd-check: no C++ compiler" >&2
	exit 1
fi

status=0
for cxx in $compilers; do
	# shellcheck disable=SC2086
	if $cxx $flags -fsyntax-only -I tests/freebsd/include -I src \
	    "$source_file"; then
		echo "freebsd-check: $cxx: $source_file type-checks"
	else
		echo "freebsd-check: $cxx: $source_file does not type-check" >&2
		status=1
	fi
done
[ "$status" -eq 0 ] || exit 1

# The platform calls each side defines, by mangled name.
defined_platform_calls() {
	nm --defined-only -g "$1" | awk '$3 ~ /platform_/ { print $3 }' | sort
}
cxx=${compilers# }
cxx=${cxx%% *}
# shellcheck disable=SC2086
$cxx $flags -c -o "$work/freebsd.o" -I tests/freebsd/include -I src \
    "$source_file"
$cxx -std=c++20 -c -o "$work/sim.o" -I src -I sim sim/sim_kernel.cpp
defined_platform_calls "$work/freebsd.o" >"$work/freebsd.syms"
defined_platform_calls "$work/sim.o" >"$work/sim.syms"
if [ ! -s "$work/sim.syms" ]; then
	echo "freebsd-check: no platform call found in the simulated kernel" >&2
	exit 1
fi
if ! diff -u "$work/sim.syms" "$work/freebsd.syms" >"$work/diff"; then
	echo "freebsd-check: the FreeBSD side does not define the calls of" \
	    "src/platform.h as the simulated kernel does (- sim, + FreeBSD):" >&2
	c++filt <"$work/diff" >&2
	exit 1
fi
echo "freebsd-check: $(wc -l <"$work/sim.syms") platform calls match src/platform.h"
