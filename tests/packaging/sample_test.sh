#!/bin/sh
# The sample table is one the daemon runs by: it takes the fan, steps to the
# second row for a reading above the first, and hands the fan back on
# SIGTERM with status 1.
#
# usage: sample_test.sh COOLRUNG_BINARY SAMPLE
. "$(dirname "$0")/lib.sh"
binary=$1
sample=$2

scratch sample
pid=
cleanup()
{
	[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
}

node()
{
	sed -n 1p "$T/dev.acpi_ibm.0.$1"
}

node_is()
{
	[ "$(node "$1")" = "$2" ]
}

# Waits up to 5 seconds for the node to hold the value.
wait_for()
{
	wait_until 5 node_is "$1" "$2" || fail "$1 is $(node "$1"), wanted $2"
}

# Above the first row's 55 degrees, within the second row; the driver loaded.
sim_machine "$T" 60
: > "$T/kld/acpi_ibm"

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

finish "sample table"
