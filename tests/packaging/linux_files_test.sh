#!/bin/sh
# The Linux files as an install lays them down: the unit passes
# systemd-analyze verify (pointed at the staged daemon, which verify wants
# to find), the sleep hook is a valid, executable sh script, and the
# modprobe.d file turns fan_control on.
#
# usage: linux_files_test.sh CMAKE BUILD_DIR
. "$(dirname "$0")/lib.sh"
cmake=$1
build=$2
scratch linux
S=$T

if ! DESTDIR=$S/root "$cmake" --install "$build" --prefix /usr \
    > "$S/install.log" 2>&1; then
	cat "$S/install.log"
	echo "FAIL: install into $S/root"
	exit 1
fi
unit=$S/root/usr/lib/systemd/system/coolrung.service
hook=$S/root/usr/lib/systemd/system-sleep/coolrung
options=$S/root/etc/modprobe.d/coolrung.conf

grep -qx 'ExecStart=/usr/sbin/coolrung -d -c /etc/coolrung.conf' "$unit" ||
    fail "$unit does not start /usr/sbin/coolrung -d -c /etc/coolrung.conf"
grep -qx 'options thinkpad_acpi fan_control=1' "$options" ||
    fail "$options does not set fan_control=1"
[ -x "$hook" ] || fail "$hook is not executable"
sh -n "$hook" || fail "$hook is not valid sh"

if command -v systemd-analyze > /dev/null; then
	sed "s|^ExecStart=/usr/sbin/|ExecStart=$S/root/usr/sbin/|" "$unit" \
	    > "$S/coolrung.service"
	# Anything it says is a fault it tolerated ("..., ignoring").
	said=$(systemd-analyze verify --man=no "$S/coolrung.service" 2>&1) ||
	    fail "systemd-analyze verify failed"
	[ -z "$said" ] || fail "systemd-analyze verify: $said"
else
	echo "SKIP: systemd-analyze is not installed (Debian: systemd)"
	exit 77
fi

finish "linux files"
