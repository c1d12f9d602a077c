#!/usr/bin/env bash
# Coverage: build with gcc's --coverage in a build directory of its own, run
# every test, then report line and branch coverage of src/ and sim/ per file.
#
#   .ci/coverage.sh [build-dir]     (default: build-coverage)
#
# Uses gcovr when it is installed (apt-get install -y gcovr), gcov -b else.
# A process killed by a signal, or the parent that daemon(3) ends, writes
# no counts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-coverage}
mkdir -p "$build"
build=$(cd "$build" && pwd)

. .ci/lib.sh
need cmake cmake
need g++ g++
need gcc gcov
need libgtest-dev /usr/include/gtest/gtest.h
# The emulated thinkpad_acpi (FUSE) for the Linux tests.
need pkg-config pkg-config
need fuse3 fusermount3
need libfuse3-dev /usr/include/fuse3/fuse.h
install_missing coverage

# The fault handler leaves by _exit, which writes no counts: in this build
# every _exit of the programs first writes them.
cat > "$build/flush_exit.cpp" <<'WRAP'
extern "C" void __gcov_dump(void);
extern "C" [[noreturn]] void __real__exit(int status);
extern "C" [[noreturn]] void
__wrap__exit(int status)
{
	__gcov_dump();
	__real__exit(status);
}
WRAP
g++ -c -o "$build/flush_exit.o" "$build/flush_exit.cpp"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS="--coverage -O0" \
	-DCMAKE_EXE_LINKER_FLAGS="--coverage -Wl,--wrap=_exit $build/flush_exit.o" \
	>/dev/null
cmake --build "$build" -j2
# Counts of an earlier run would add up with this one's.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j8 --output-on-failure

echo
if command -v gcovr >/dev/null; then
	common=(--root "$root" --object-directory "$build"
		--filter "$root/src/" --filter "$root/sim/"
		--exclude-directories '.*/CMakeFiles/[0-9.]+'
		--exclude-throw-branches --exclude-unreachable-branches)
	echo "== Lines =="
	gcovr "${common[@]}"
	echo "== Branches =="
	gcovr "${common[@]}" --branches
else
	echo "gcovr not installed: gcov -b per file"
	for source in src/*.cpp sim/*.cpp; do
		data=$(find "$build" -name "$(basename "$source").gcda" | head -n 1)
		[ -n "$data" ] || { echo "$source: not run"; continue; }
		(cd "$(dirname "$data")" && gcov -b -n "$(basename "$data")" 2>/dev/null) |
			awk -v file="$root/$source" '
				/^File / { keep = $0 == "File '\''" file "'\''"; next }
				/^$/ { keep = 0 }
				keep && /^Lines/ { print substr(file, length(root) + 2) ": " $0 }
				keep && /^Taken/ { print substr(file, length(root) + 2) ": branches " $0; exit }' root="$root"
	done
fi
