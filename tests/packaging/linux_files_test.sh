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
install_into "$T/root" /usr || finish "linux files"
unit=$T/root/usr/lib/systemd/system/coolrung.service
hook=$T/root/usr/lib/systemd/system-sleep/coolrung
options=$T/root/etc/modprobe.d/coolrung.conf

expect_line "$unit" 'ExecStart=/usr/sbin/coolrung -d -c /etc/coolrung.conf'
expect_line "$options" 'options thinkpad_acpi fan_control=1'
[ -x "$hook" ] || fail "$hook is not executable"
sh -n "$hook" || fail "$hook is not valid sh"

if ! command -v systemd-analyze > /dev/null; then
	echo "SKIP: systemd-analyze is not installed (Debian: systemd)"
	[ "$failures" -ne 0 ] || exit 77
	finish "linux files"
fi
sed "s|^ExecStart=/usr/sbin/|ExecStart=$T/root/usr/sbin/|" "$unit" \
    > "$T/coolrung.service"
# Anything it says is a fault it tolerated ("..., ignoring").
said=$(systemd-analyze verify --man=no "$T/coolrung.service" 2>&1) ||
    fail "systemd-analyze verify failed"
[ -z "$said" ] || fail "systemd-analyze verify: $said"

finish "linux files"
