# What the packaging tests share, sourced first by each:
#
#	. "$(dirname "$0")/lib.sh"
#	scratch NAME
#
# A scratch folder $T removed however the test ends, checks that count
# their failures, waits with a timeout, the simulated kernel's files, and
# a scratch build of the tree installed with $cmake.
set -u

failures=0
fail()
{
	echo "FAIL: $*"
	failures=$((failures + 1))
}

# Ends what the test started, before its scratch folder goes.  A test that
# starts processes defines its own.
cleanup()
{
	:
}

# scratch NAME: creates $T, a fresh folder removed at the end.
scratch()
{
	T=$(mktemp -d "${TMPDIR:-/tmp}/coolrung-$1.XXXXXX") || exit 1
	trap 'cleanup; rm -rf "$T"' EXIT
	trap 'exit 1' HUP INT TERM
}

# same WHAT A WHAT_ELSE B: fails, showing both, unless A is B.
same()
{
	[ "$2" = "$4" ] || fail "$1
$2
$3
$4"
}

# expect_line FILE LINE: FILE has the very LINE.
expect_line()
{
	grep -qxF -- "$2" "$1" || fail "$1 has no line: $2"
}

# wait_until SECONDS COMMAND...: runs COMMAND every tenth of a second until
# it succeeds; false if it still fails after SECONDS.
wait_until()
{
	tenths=$(($1 * 10))
	shift
	while ! "$@"; do
		[ "$tenths" -gt 0 ] || return 1
		sleep 0.1
		tenths=$((tenths - 1))
	done
}

# sim_machine DIR CELSIUS: the simulated kernel's nodes in DIR, the fan
# with the firmware at level 0, the driver's module neither loaded nor
# loadable yet (DIR/kld is empty).
sim_machine()
{
	mkdir -p "$1/kld"
	: > "$1/trace"
	echo 1 > "$1/dev.acpi_ibm.0.fan"
	echo 0 > "$1/dev.acpi_ibm.0.fan_level"
	echo "$2 42 -1 -1 -1 -1 -1 -1" > "$1/dev.acpi_ibm.0.thermal"
}

# scratch_build SOURCE_DIR GENERATOR CXX_COMPILER BUILD_TYPE [ARG...]: the
# tree configured without its tests in $build, then built with the ARGs;
# the test ends here if either fails.
scratch_build()
{
	build=$T/build
	source=$1 generator=$2 compiler=$3 type=${4:-RelWithDebInfo}
	shift 4
	if ! "${cmake:?}" -S "$source" -B "$build" -G "$generator" \
	    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$type" \
	    -DCOOLRUNG_TESTS=OFF > "$T/configure.log" 2>&1 ||
	    ! "$cmake" --build "$build" -j2 "$@" > "$T/build.log" 2>&1; then
		cat "$T/configure.log" "$T/build.log" 2>/dev/null | tail -40
		echo "FAIL: the scratch build failed"
		exit 1
	fi
}

# install_into DESTDIR PREFIX: $build installed into DESTDIR, which must
# hold just what install_manifest.txt lists; false if it fails.
install_into()
{
	if ! DESTDIR=$1 "$cmake" --install "$build" --prefix "$2" \
	    > "$T/install.log" 2>&1; then
		cat "$T/install.log"
		fail "install into $1 failed"
		return 1
	fi
	same "install_manifest.txt lists" \
	    "$(sed "s|^$1||" "$build/install_manifest.txt" | sort)" \
	    "but the install laid down" \
	    "$(cd "$1" && find . -type f | sed 's|^\.||' | sort)"
}

# finish WHAT: the verdict, as the exit status too.
finish()
{
	if [ "$failures" -ne 0 ]; then
		echo "$failures checks failed"
		exit 1
	fi
	echo "$1: all checks passed"
	exit 0
}
