#!/bin/sh
# Checks the FreeBSD side of the tree on another system.
#
#  1. src/platform_freebsd.cpp alone, with each compiler found (c++,
#     clang++), against the host's headers and stand-ins (include/) for the
#     FreeBSD declarations the host lacks (sysctl(3), kldfind(2),
#     kldload(2)): a call with the wrong number of arguments, a pointer of
#     the wrong type, or a value narrowed into a parameter (-Wconversion:
#     size_t into u_int) fails.
#  2. The whole tree configured as for FreeBSD (-DCMAKE_SYSTEM_NAME=FreeBSD
#     -DCOOLRUNG_FREEBSD_STANDINS=ON) and built with -Werror: every source
#     that configuration compiles must compile, the daemon must link the
#     FreeBSD side (its calls stood in for by standin_calls.cpp) and
#     nothing else must: the tests and coolrung-sim link the simulated
#     kernel.
#  3. The FreeBSD side defines exactly the platform_* symbols the simulated
#     kernel defines (mangled names carry the parameter types): a definition
#     with other parameters would be a new overload, not an error.
#  4. Given a FreeBSD sysroot (-s, or FREEBSD_SYSROOT: a directory holding
#     FreeBSD's usr/include with its C++ library's headers in
#     usr/include/c++/v1, or a tarball of one), every source a FreeBSD
#     build compiles, the tests and the fuzz targets included, type-checked
#     by clang++ for FreeBSD against those headers alone: the project's
#     warnings, -Wshorten-64-to-32 (long and size_t are 64 bits there and
#     sig_atomic_t is long, so narrowings the host never sees) and -Werror;
#     src/platform_freebsd.cpp with the warnings of step 1 too.  Each source
#     takes its defines and include directories from a tree configured for
#     FreeBSD (its compile database), but no directory of the host: the
#     host's C library would shadow FreeBSD's.  GoogleTest's headers come
#     from the host, linked alone into a directory of their own.  Without a
#     sysroot this step is skipped, and the last line says so.
#
# Usage: check.sh [-s sysroot] [build-dir]
#   build-dir defaults to build-freebsd and is kept between runs; step 4
#   starts afresh in build-dir/headers each time.
set -eu

sysroot=${FREEBSD_SYSROOT:-}
while getopts s: option; do
	case $option in
	s) sysroot=$OPTARG ;;
	*) echo "usage: check.sh [-s sysroot] [build-dir]" >&2; exit 2 ;;
	esac
done
shift $((OPTIND - 1))
case $sysroot in
'' | /*) ;;
*) sysroot=$PWD/$sysroot ;;
esac

cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build-freebsd}
target=${FREEBSD_TARGET:-x86_64-unknown-freebsd14.1}

strict="-Wconversion -Wsign-conversion -Wmissing-declarations"
flags="-std=c++20 -Wall -Wextra -Werror $strict"
compilers=
for cxx in ${CHECK_CXX:-c++ clang++}; do
	command -v "$cxx" >/dev/null 2>&1 && compilers="$compilers $cxx"
done
if [ -z "$compilers" ]; then
	echo "freebsd-check: no C++ compiler" >&2
	exit 1
fi
if [ -n "$sysroot" ] && [ ! -e "$sysroot" ]; then
	echo "freebsd-check: $sysroot: no such sysroot" >&2
	exit 1
fi
if [ -n "$sysroot" ] && ! command -v clang++ >/dev/null 2>&1; then
	echo "freebsd-check: the check against FreeBSD's headers needs" \
	    "clang++" >&2
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
for program in $(find "$build" -path "$build/headers" -prune -o \
    -name CMakeFiles -prune -o -type f -perm -u+x ! -name '*.so' -print); do
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

# 4.
if [ -z "$sysroot" ]; then
	echo "freebsd-check: SKIPPED: the check against FreeBSD's own headers" \
	    "(no sysroot: give -s DIR-or-TARBALL, or FREEBSD_SYSROOT)"
	exit 0
fi
work=$(cd "$build" && pwd)/headers
rm -rf "$work"
mkdir -p "$work/googletest"
if [ -f "$sysroot" ]; then
	mkdir "$work/sysroot"
	tar -xf "$sysroot" -C "$work/sysroot"
	headers=$work/sysroot
else
	headers=$sysroot
fi
if [ ! -f "$headers/usr/include/sys/sysctl.h" ] ||
    [ ! -d "$headers/usr/include/c++/v1" ]; then
	echo "freebsd-check: $sysroot: no FreeBSD sysroot (usr/include/sys" \
	    "and usr/include/c++/v1)" >&2
	exit 1
fi

gtest=$(printf '#include <gtest/gtest.h>\n' |
    clang++ -std=c++20 -x c++ -E -H -o /dev/null - 2>&1 |
    sed -n '1s/^\. \(.*\)\/gtest\/gtest\.h$/\1/p')
if [ -z "$gtest" ]; then
	echo "freebsd-check: GoogleTest's headers not found" >&2
	exit 1
fi
for library in gtest gmock; do
	if [ -d "$gtest/$library" ]; then
		ln -s "$gtest/$library" "$work/googletest/"
	fi
done

# The fuzz targets configure only where clang++ links libFuzzer; elsewhere
# the rest is checked, and the last line says what was left out.
fuzz=ON
configure() {
	CXX=clang++ cmake -S . -B "$work/db" -DCMAKE_SYSTEM_NAME=FreeBSD \
	    ${multiarch:+-DCMAKE_LIBRARY_ARCHITECTURE=$multiarch} \
	    -DCOOLRUNG_TESTS=ON -DCOOLRUNG_FUZZ=$fuzz -DCOOLRUNG_WERROR=ON \
	    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
	    >"$work/configure-fuzz-$fuzz.log" 2>&1
}
if ! configure; then
	fuzz=OFF
	configure || {
		cat "$work/configure-fuzz-$fuzz.log" >&2
		echo "freebsd-check: the FreeBSD configuration does not" \
		    "configure with clang++" >&2
		exit 1
	}
fi
if ! grep -q '"file": "[^"]*/src/platform_freebsd.cpp"' \
    "$work/db/compile_commands.json"; then
	echo "freebsd-check: $work/db is no FreeBSD configuration" >&2
	exit 1
fi

# A word between single quotes, as clang++ reads a response file (and sh
# a command line).
quote() {
	rest=$1
	quoted=
	while :; do
		case $rest in
		*\'*)
			quoted="$quoted${rest%%\'*}'\\''"
			rest=${rest#*\'}
			;;
		*) break ;;
		esac
	done
	printf "'%s%s' " "$quoted" "$rest"
}

of_the_tree() {
	case $1 in
	"$root"/* | "$work"/*) return 0 ;;
	*) return 1 ;;
	esac
}

# One line of clang++ arguments for a command of the compile database.
arguments_for() {
	eval "set -- $1"
	shift
	file=
	while [ $# -gt 0 ]; do
		case $1 in
		-D* | -U* | -std=* | -W*) quote "$1" ;;
		-I*)
			if of_the_tree "${1#-I}"; then
				quote "$1"
			fi
			;;
		-isystem)
			if of_the_tree "$2"; then
				quote -isystem
				quote "$2"
			fi
			shift
			;;
		-o) shift ;;
		-c) file=$2; shift ;;
		esac
		shift
	done
	for word in "--target=$target" "--sysroot=$headers" -nostdinc++ \
	    -isystem "$headers/usr/include/c++/v1" -isystem "$work/googletest" \
	    -DGTEST_HAS_CXXABI_H_=0 -fsyntax-only -Werror -Wshorten-64-to-32; do
		quote "$word"
	done
	case $file in
	*/src/platform_freebsd.cpp)
		for word in $strict; do quote "$word"; done ;;
	esac
	quote "$file"
	echo
}

# The database's commands, its JSON escapes undone; a source compiled
# twice with the same defines (the fuzz targets' reader) is checked once.
awk '/"command":/ {
	line = $0
	sub(/^[^"]*"command": "/, "", line)
	sub(/",?$/, "", line)
	gsub(/\\\\/, "\001", line)
	gsub(/\\"/, "\"", line)
	gsub(/\001/, "\\", line)
	print line
}' "$work/db/compile_commands.json" | while IFS= read -r command; do
	arguments_for "$command"
done | sort -u >"$work/checks"
count=0
while IFS= read -r line; do
	count=$((count + 1))
	printf '%s\n' "$line" >"$work/$count.rsp"
done <"$work/checks"

# Two at a time, each with its log; the logs of the failures are shown.
# shellcheck disable=SC2016
for rsp in "$work"/*.rsp; do
	printf '%s\0' "$rsp"
done | xargs -0 -n 1 -P 2 sh -c \
    'clang++ "@$1" >"${1%.rsp}.log" 2>&1 || echo "$1"' sh >"$work/failed"
if [ -s "$work/failed" ]; then
	while IFS= read -r rsp; do
		echo "freebsd-check: clang++ @$rsp:" >&2
		cat "${rsp%.rsp}.log" >&2
	done <"$work/failed"
	echo "freebsd-check: $(wc -l <"$work/failed") of $count sources do" \
	    "not type-check against FreeBSD's headers (responses and logs in" \
	    "$work)" >&2
	exit 1
fi
if [ "$fuzz" = ON ]; then
	included="the tests and the fuzz targets included"
else
	included="the tests included; NOT the fuzz targets, which do not"
	included="$included configure here: see $work/configure-fuzz-ON.log"
fi
echo "freebsd-check: clang++ --target=$target: $count sources of the" \
    "FreeBSD configuration ($included) type-check against $sysroot"
