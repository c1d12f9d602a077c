#!/usr/bin/env bash
# Watch coolrung run a fan: a simulated machine, a scripted heat-up and
# cool-down, one line per poll, and the fan handed back at the end.
# Usage: tools/demo/demo.sh [path/to/coolrung]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${1:-$here/../../build/coolrung}
[ -x "$binary" ] || { echo "demo: no coolrung binary at $binary" >&2; exit 1; }

machine=$(mktemp -d /tmp/coolrung-demo-XXXXXX)
daemon_pid=
watch_pid=
cleanup() {
	[ -n "$daemon_pid" ] && kill -KILL "$daemon_pid" 2>/dev/null || true
	[ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null || true
	rm -rf "$machine"
}
trap cleanup EXIT

mkdir "$machine/kld"
: >"$machine/kld/acpi_ibm"
: >"$machine/trace"
echo 1 >"$machine/dev.acpi_ibm.0.fan"
echo 0 >"$machine/dev.acpi_ibm.0.fan_level"

heat() {	# set the CPU sensor, atomically so the daemon never reads half a file
	echo "$1 42 -1 -1 -1 -1 -1 -1" >"$machine/thermal.new"
	mv "$machine/thermal.new" "$machine/dev.acpi_ibm.0.thermal"
}
mode_name() { [ "$(cat "$machine/dev.acpi_ibm.0.fan")" = 0 ] && echo manual || echo auto; }

heat 45
start=${EPOCHREALTIME/./}
stamp() {	# seconds since the start, to a tenth
	local tenths=$(( (${EPOCHREALTIME/./} - start) / 100000 ))
	printf '%4d.%ds' $((tenths / 10)) $((tenths % 10))
}

echo "Table ($here/demo.conf):"
grep '^level' "$here/demo.conf" | sed 's/^/    /'
echo
printf '%7s  %-6s  %-5s  %-6s  %s\n' time temp level mode event

# One line per poll or change, read from the simulated kernel's trace.
tail -n +1 -f "$machine/trace" | while read -r _pid op node value result; do
	case "$op $node" in
	"read dev.acpi_ibm.0.thermal")
		printf '%s  %3s C   %-5s  %-6s  poll\n' "$(stamp)" "$value" \
		    "$(cat "$machine/dev.acpi_ibm.0.fan_level")" "$(mode_name)" ;;
	"write dev.acpi_ibm.0.fan_level")
		printf '%s          %-5s  %-6s  fan level set to %s (%s)\n' "$(stamp)" \
		    "$value" "$(mode_name)" "$value" "$result" ;;
	"write dev.acpi_ibm.0.fan")
		[ "$value" = 0 ] && what="fan taken from the firmware" ||
		    what="fan handed back to the firmware"
		printf '%s                 %-6s  %s\n' "$(stamp)" "$(mode_name)" "$what" ;;
	"sleep -")	# the quick poll that follows a fast fall
		[ "$value" = 1 ] &&
		    printf '%s                         fell fast: next poll in 1 s\n' "$(stamp)" ;;
	esac
done &
watch_pid=$!

COOLRUNG_SIM_ROOT=$machine "$binary" -c "$here/demo.conf" &
daemon_pid=$!

# A heat-up that crosses rows, sits in an overlap and jumps several rows,
# then a fast fall.  Each temperature is held for about two polls.
for celsius in 45 52 56 62 68 64 96 97 98 99 80 62 58 49 40 38; do
	heat "$celsius"
	sleep 3
done

echo "$(stamp)  sending SIGTERM to coolrung ($daemon_pid)"
kill -TERM "$daemon_pid"
status=0
wait "$daemon_pid" || status=$?
daemon_pid=
sleep 0.3
echo
echo "coolrung exited with status $status; dev.acpi_ibm.0.fan = $(cat "$machine/dev.acpi_ibm.0.fan") ($(mode_name))"
