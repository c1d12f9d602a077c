#!/bin/sh
# The sample table is one the daemon runs by: it takes the fan, steps to the
# second row for a reading above the first, and hands the fan back on
# SIGTERM with status 1.
#
# usage: sample_test.sh COOLRUNG_BINARY SAMPLE
set -u
binary=$1
sample=$2

T=$(mktemp -d "${TMPDIR:-/tmp}/coolrung-sample.XXXXXX") || exit 1
pid=
cleanup()
{
	[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
	rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

failures=0
fail()
{
	echo "FAIL: $*"
	failures=$((failures + 1))
}

node()
{
	sed -n 1p "$T/dev.acpi_ibm.0.$1"
}

# Waits up to 5 seconds for the node to hold the value.
wait_for()
{
	tries=0
	while [ "$(node "$1")" != "$2" ] && [ $tries -lt 50 ]; do
		sleep 0.1
		tries=$((tries + 1))
	done
	[ "$(node "$1")" = "$2" ] || fail "$1 is $(node "$1"), wanted $2"
}

mkdir "$T/kld"
: > "$T/kld/acpi_ibm"
: > "$T/trace"
echo 1 > "$T/dev.acpi_ibm.0.fan"
echo 0 > "$T/dev.acpi_ibm.0.fan_level"
# Above the first row's 55 degrees, within the second row.
echo "60 42 -1 -1 -1 -1 -1 -1" > "$T/dev.acpi_ibm.0.thermal"

COOLRUNG_SIM_ROOT=$T "$binary" -c "$sample" 2> "$T/stderr" &
pid=$!

wait_for fan 0
wait_for fan_level 1
grep -q "^$pid write dev.acpi_ibm.0.fan_level 0 ok$" "$T/trace" ||
    fail "the first row's level 0 was not written"

kill -TERM "$pid"
wait "$pid"
status=$?
pid=
[ $status -eq 1 ] || fail "exit status $status after SIGTERM, wanted 1"
[ "$(node fan)" = 1 ] || fail "the fan was not handed back"
[ -s "$T/stderr" ] && fail "the daemon complained: $(cat "$T/stderr")"

if [ $failures -ne 0 ]; then
	echo "$failures checks failed"
	exit 1
fi
echo "sample table: all checks passed"
