#!/bin/sh
# Installs a fresh build of the tree into scratch DESTDIRs, with and without
# the FreeBSD and the Linux files, as packages configure it and in a
# distribution's places, and checks the exact list of files, their modes,
# the prefix written into the rc.d script and the unit, the install
# manifest, and that an administrator's coolrung.conf and edited log
# snippets survive.
#
# usage: install_test.sh CMAKE SOURCE_DIR GENERATOR CXX_COMPILER DEFAULT
#            LINUX_DEFAULT [BUILD_TYPE]
# DEFAULT is what COOLRUNG_INSTALL_FREEBSD_FILES must default to here,
# LINUX_DEFAULT what COOLRUNG_INSTALL_LINUX_FILES must.
# shellcheck disable=SC2086 # the lists of files below are split into words
. "$(dirname "$0")/lib.sh"
cmake=$1
default=$5
linux_default=$6
scratch install
scratch_build "$2" "$3" "$4" "${7:-}"

# The files of each part of an install, "path mode" pairs; a relative path
# is under the prefix.
programs="bin/coolrung-preview 755 etc/coolrung.conf.sample 644
    sbin/coolrung 755 share/man/man1/coolrung-preview.1 644
    share/man/man5/coolrung.conf.5 644 share/man/man8/coolrung.8 644"
rc_script="etc/rc.d/coolrung 755"
log_samples="etc/syslog.d/coolrung.conf.sample 644
    share/examples/coolrung/newsyslog-coolrung.conf.sample 644"
live_log_files="etc/syslog.d/coolrung.conf 644
    etc/newsyslog.conf.d/coolrung.conf 644"
modprobe="/etc/modprobe.d/coolrung.conf 644"

# installs NAME PREFIX FILES [-DVAR=VALUE...]: the build, configured with
# the settings, installed into $T/NAME holds exactly FILES, with their modes.
installs()
{
	dir=$T/$1 prefix=$2
	expected=$(printf '%s %s\n' $3 | sed "s|^[^/]|${prefix#/}/&|; s|^/||" |
	    sort)
	shift 3
	[ $# -eq 0 ] || "$cmake" "$@" "$build" > /dev/null ||
	    fail "configuring $dir failed"
	install_into "$dir" "$prefix" || return
	same "$dir: installed" "$(cd "$dir" && find . -type f | sed 's|^\./||' |
	    sort | while read -r file; do
		echo "$file $(stat -c %a "$file" 2>/dev/null ||
		    stat -f %Lp "$file")"
	    done)" wanted "$expected"
}

cache=$build/CMakeCache.txt
expect_line "$cache" "COOLRUNG_INSTALL_FREEBSD_FILES:BOOL=$default"
expect_line "$cache" "COOLRUNG_INSTALL_LINUX_FILES:BOOL=$linux_default"

# Without the system's files.  (The installed daemon is the real one of
# this system, which is not run here: on Linux it would load a module.)
installs plain /usr/local "$programs" \
    -DCOOLRUNG_INSTALL_FREEBSD_FILES=OFF -DCOOLRUNG_INSTALL_LINUX_FILES=OFF
installs linux /usr/local "$programs lib/systemd/system/coolrung.service 644
    /usr/lib/systemd/system-sleep/coolrung 755 $modprobe" \
    -DCOOLRUNG_INSTALL_LINUX_FILES=ON
expect_line "$T/linux/usr/local/lib/systemd/system/coolrung.service" \
    'ExecStart=/usr/local/sbin/coolrung -d -c /usr/local/etc/coolrung.conf'

# The FreeBSD files: the log snippets live where they are absent, their
# syslog.d block closed so that it captures nothing after it ...
freebsd_files="$programs $rc_script $log_samples $live_log_files"
installs freebsd /usr/local "$freebsd_files" -DCOOLRUNG_INSTALL_FREEBSD_FILES=ON \
    -DCOOLRUNG_INSTALL_LINUX_FILES=OFF
etc=$T/freebsd/usr/local/etc
[ ! -e "$etc/coolrung.conf" ] || fail "the install created coolrung.conf"
[ "$(grep -v '^#' "$etc/syslog.d/coolrung.conf" | sed -n '1p;$p' |
    cut -f1 | tr '\n' ' ')" = "!coolrung !* " ] ||
    fail "syslog.d/coolrung.conf is no block from !coolrung to !*"
grep -q "^/var/log/coolrung.log[[:space:]]" "$etc/newsyslog.conf.d/coolrung.conf" ||
    fail "newsyslog.conf.d/coolrung.conf does not rotate /var/log/coolrung.log"

# ... and an administrator's table and edited snippets left alone.
for file in coolrung.conf syslog.d/coolrung.conf newsyslog.conf.d/coolrung.conf
do
	echo "# edited" >> "$etc/$file"
	cp "$etc/$file" "$T/admin.conf"
	DESTDIR=$T/freebsd "$cmake" --install "$build" --prefix /usr/local \
	    > /dev/null
	cmp -s "$T/admin.conf" "$etc/$file" ||
	    fail "a second install changed the administrator's $file"
done
rc=$etc/rc.d/coolrung
expect_line "$rc" 'command="/usr/local/sbin/coolrung"'
expect_line "$rc" ': ${coolrung_config="/usr/local/etc/coolrung.conf"}'
grep -q "%%" "$rc" && fail "$rc keeps a placeholder"
sh -n "$rc" || fail "$rc is not valid sh"

# The prefix of the install, not of the configuring, goes into the script.
installs opt /opt/coolrung "$freebsd_files"
expect_line "$T/opt/opt/coolrung/etc/rc.d/coolrung" \
    'command="/opt/coolrung/sbin/coolrung"'

# For a package, whose own mechanism makes the live log files from the
# samples: the samples only; for a port, whose framework installs the rc.d
# script, no script either.
installs package /usr/local "$programs $rc_script $log_samples" \
    -DCOOLRUNG_INSTALL_LIVE_LOG_FILES=OFF
installs port /usr/local "$programs $log_samples" \
    -DCOOLRUNG_INSTALL_RC_SCRIPT=OFF

# A distribution's own places for the unit and the sleep hook (Debian
# 12's), configured as Debian's build does, with /etc for /usr.
installs distribution /usr "$(echo $programs | sed 's| etc/| /etc/|')
    /lib/systemd/system/coolrung.service 644
    /lib/systemd/system-sleep/coolrung 755 $modprobe" \
    -DCOOLRUNG_INSTALL_FREEBSD_FILES=OFF -DCOOLRUNG_INSTALL_LINUX_FILES=ON \
    -DCMAKE_INSTALL_SYSCONFDIR=/etc \
    -DCOOLRUNG_SYSTEMD_UNIT_DIR=/lib/systemd/system \
    -DCOOLRUNG_SYSTEMD_SLEEP_DIR=/lib/systemd/system-sleep
expect_line "$T/distribution/lib/systemd/system/coolrung.service" \
    'ExecStart=/usr/sbin/coolrung -d -c /etc/coolrung.conf'

finish install
