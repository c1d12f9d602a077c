#!/bin/sh
# Runs packaging/rc.d/coolrung, by hand and from /etc/rc.resume, with the
# built daemon on a simulated kernel, against stand-ins for rc.subr,
# rc.resume, rcorder, sysctl, kldstat and kldload.
#
# usage: rcd_test.sh PACKAGING_DIR STANDIN_DIR COOLRUNG_BINARY
. "$(dirname "$0")/lib.sh"
packaging=$1
standin=$2
binary=$3

scratch rcd
. "$standin/rc.subr"

# The daemon runs as a copy of its own, so that only the processes this
# test started match its command path.
daemon_pids()
{
	check_process "$T/sbin/coolrung"
}

cleanup()
{
	for pid in $(daemon_pids); do
		kill -KILL "$pid" 2>/dev/null
	done
}

expect_status()
{
	[ "$status" -eq "$1" ] || fail "$2: status $status, wanted $1"
}

expect_output()
{
	grep -q -- "$1" "$T/out" || fail "$2: no \"$1\" in: $(cat "$T/out")"
}

fan()
{
	sed -n 1p "$T/sim/dev.acpi_ibm.0.fan"
}

expect_fan()
{
	[ "$(fan)" = "$1" ] || fail "$2: fan mode $(fan), wanted $1"
}

expect_daemons()
{
	count=$(daemon_pids | wc -l)
	[ "$count" -eq "$1" ] || fail "$2: $count daemons, wanted $1"
}

# A script that hangs, as with a daemon that does not detach, must not hang
# the test: timeout(1) ends it, and the cleanup ends the daemon.
run()
{
	if command -v timeout > /dev/null; then
		timeout 10 sh "$@" > "$T/out" 2>&1
	else
		sh "$@" > "$T/out" 2>&1
	fi
	status=$?
}

rc()
{
	run "$T/etc/rc.d/coolrung" "$1"
}

# After a resume the driver has left the fan to the firmware; devd then
# runs /etc/rc.resume.
resume()
{
	echo 1 > "$T/sim/dev.acpi_ibm.0.fan"
	run "$T/rc.resume" acpi 3
}

enable()
{
	printf 'coolrung_enable="%s"\nlocal_startup="%s"\n' "$1" \
	    "$T/etc/rc.d" > "$T/rc.conf"
}

loads()
{
	grep -c "^kldload" "$T/sim/standin.log"
}

process_gone()
{
	! _process_alive "$1"
}

# SIGKILL: the daemon cannot hand the fan back.
kill_daemon()
{
	killed=$(daemon_pids)
	kill -KILL $killed
	wait_until 5 process_gone "$killed"
}

# The simulated kernel: the driver's file is there to load, not loaded
# yet.  The prefix is $T, the base system's /etc/rc.d is $T/base.
sim_machine "$T/sim" 45
mkdir -p "$T/sbin" "$T/etc/rc.d" "$T/base/rc.d" "$T/bin"
echo acpi/acpi_ibm > "$T/sim/kld/acpi_ibm.ko"
: > "$T/sim/standin.log"

cp "$binary" "$T/sbin/coolrung"
cp "$packaging/coolrung.conf.sample" "$T/etc/coolrung.conf"
cp "$standin/rc.subr" "$T/rc.subr"
cp "$standin/bin/"* "$T/bin/"
sed -e "s|/etc/rc.subr|$T/rc.subr|" -e "s|/etc/rc.d/|$T/base/rc.d/|" \
    "$standin/rc.resume" > "$T/rc.resume"
sed -e "s|/etc/rc.subr|$T/rc.subr|" -e "s|%%PREFIX%%|$T|g" \
    "$packaging/rc.d/coolrung" > "$T/etc/rc.d/coolrung"
chmod 755 "$T/etc/rc.d/coolrung"

export PATH="$T/bin:$PATH" COOLRUNG_SIM_ROOT="$T/sim" RC_CONF="$T/rc.conf"

# The header as rcorder reads it: /etc/rc.shutdown and /etc/rc.resume list
# the script (-k), /etc/rc in a jail leaves it out (-s nojail).
script=$T/etc/rc.d/coolrung
for keyword in shutdown resume; do
	[ "$(rcorder -k $keyword "$script")" = "$script" ] ||
	    fail "rcorder -k $keyword does not list the script"
done
[ -z "$(rcorder -s nojail "$script")" ] ||
    fail "rcorder -s nojail lists the script"

# Not enabled: nothing starts.
enable NO
rc start
expect_status 0 "start while not enabled"
expect_output "Cannot 'start' coolrung" "start while not enabled"
expect_daemons 0 "start while not enabled"
expect_fan 1 "start while not enabled"

# Enabled, but the table is missing: refused before the daemon runs.
enable YES
mv "$T/etc/coolrung.conf" "$T/etc/coolrung.conf.away"
rc start
expect_status 1 "start without a table"
expect_output "coolrung.conf is not readable" "start without a table"
expect_daemons 0 "start without a table"
mv "$T/etc/coolrung.conf.away" "$T/etc/coolrung.conf"

# Start: the driver gets loaded, the daemon holds the fan and has detached
# by the time the script returns.
rc start
expect_status 0 "start"
[ "$(loads)" -eq 1 ] && grep -q "^kldload acpi_ibm$" "$T/sim/standin.log" ||
    fail "start did not load acpi_ibm"
expect_daemons 1 "start"
first=$(daemon_pids)
expect_fan 0 "start"
session=$(ps -o sid= -p "$first" | tr -d ' ')
[ "$session" = "$first" ] || fail "the daemon did not detach (session $session)"

rc status
expect_status 0 "status"
expect_output "coolrung is running as pid $first\." "status"

rc start
expect_status 1 "second start"
expect_output "already running" "second start"
expect_daemons 1 "second start"

# Stop: SIGTERM, and the daemon itself hands the fan back.
rc stop
expect_status 0 "stop"
expect_daemons 0 "stop"
expect_fan 1 "stop"
grep -q "^$first write dev.acpi_ibm.0.fan 1 ok$" "$T/sim/trace" ||
    fail "the daemon did not hand the fan back on SIGTERM"
grep -q "sysctl dev.acpi_ibm.0.fan" "$T/sim/standin.log" &&
    fail "stop wrote the fan although the daemon had handed it back"

# A daemon stopped by job control has handed the fan back; stop still ends it.
rc start
kill -TSTP "$(daemon_pids)"
rc stop
expect_status 0 "stop of a stopped daemon"
expect_daemons 0 "stop of a stopped daemon"
expect_fan 1 "stop of a stopped daemon"

rc status
expect_status 1 "status after stop"
expect_output "coolrung is not running" "status after stop"

# Start with the driver loaded, as after acpi_ibm_load="YES": nothing to load.
rc start
expect_status 0 "start with the driver loaded"
expect_daemons 1 "start with the driver loaded"
[ "$(loads)" -eq 1 ] || fail "start with the driver loaded ran kldload"

# A resume restarts a running daemon, enabled or started by hand, and it
# takes the fan back from the firmware.
for enabled in YES NO; do
	enable $enabled
	before=$(daemon_pids)
	resume
	expect_daemons 1 "resume ($enabled)"
	[ "$(daemon_pids)" != "$before" ] ||
	    fail "resume ($enabled) did not restart the daemon"
	expect_fan 0 "resume ($enabled)"
done
enable YES

# SIGKILL leaves the fan in manual mode; stop hands it back itself.
kill_daemon
expect_daemons 0 "SIGKILL"
expect_fan 0 "SIGKILL"
rc stop
expect_status 0 "stop after SIGKILL"
expect_output "Handing the fan back" "stop after SIGKILL"
expect_fan 1 "stop after SIGKILL"
grep -q "^sysctl dev.acpi_ibm.0.fan=1$" "$T/sim/standin.log" ||
    fail "stop after SIGKILL did not write the fan mode"

# With nothing running and the fan with the firmware, stop writes nothing,
# and a resume starts nothing.
: > "$T/sim/standin.log"
rc stop
expect_status 0 "stop with nothing running"
[ -s "$T/sim/standin.log" ] && fail "stop with nothing running wrote the fan"
resume
expect_status 0 "resume without a daemon"
expect_daemons 0 "resume without a daemon"
expect_fan 1 "resume without a daemon"

# Not enabled, started by hand and killed: rc.subr refuses plain stop
# before the script's own, so only onestop hands the fan back.
enable NO
rc onestart
kill_daemon
rc stop
expect_output "Cannot 'stop' coolrung" "stop of a killed daemon not enabled"
expect_fan 0 "stop of a killed daemon not enabled"
rc onestop
expect_output "Handing the fan back" "onestop after SIGKILL"
expect_fan 1 "onestop after SIGKILL"

finish "rc.d script"
