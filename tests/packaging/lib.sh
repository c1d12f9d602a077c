# What the packaging tests share, sourced first by each:
#
#	. "$(dirname "$0")/lib.sh"
#	scratch NAME
#
# A scratch folder $T removed however the test ends, checks that count
# their failures, waits with a timeout, and the simulated kernel's files.
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
