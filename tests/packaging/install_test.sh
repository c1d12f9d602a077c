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
. "$(dirname "$0")/lib.sh"
cmake=$1
source_dir=$2
generator=$3
compiler=$4
default=$5
linux_default=$6
build_type=${7:-RelWithDebInfo}

scratch install
build=$T/build

mode_of()
{
	stat -c %a "$1" 2>/dev/null || stat -f %Lp "$1"
}

# The files of each part of an install under PREFIX (without the leading
# /), with their modes.
programs()
{
	echo "$1/bin/coolrung-preview 755
$1/etc/coolrung.conf.sample 644
$1/sbin/coolrung 755
$1/share/man/man1/coolrung-preview.1 644
$1/share/man/man5/coolrung.conf.5 644
$1/share/man/man8/coolrung.8 644"
}

rc_script()
{
	echo "$1/etc/rc.d/coolrung 755"
}

log_samples()
{
	echo "$1/etc/syslog.d/coolrung.conf.sample 644
$1/share/examples/coolrung/newsyslog-coolrung.conf.sample 644"
}

live_log_files()
{
	echo "$1/etc/syslog.d/coolrung.conf 644
$1/etc/newsyslog.conf.d/coolrung.conf 644"
}

# linux_files UNIT_DIR SLEEP_DIR (without the leading /)
linux_files()
{
	echo "$1/coolrung.service 644
$2/coolrung 755
etc/modprobe.d/coolrung.conf 644"
}

# check_tree DESTDIR FILES: DESTDIR holds exactly FILES, "path mode" lines.
check_tree()
{
	expected=$(echo "$2" | sort)
	found=$(cd "$1" && find . -type f | sed 's|^\./||' | sort |
	    while read -r file; do
		echo "$file $(mode_of "$file")"
	    done)
	[ "$found" = "$expected" ] ||
	    fail "$1: installed
$found
wanted
$expected"
}

# install DESTDIR PREFIX: a fresh DESTDIR, and the manifest must list
# exactly what was laid down there.
install_into()
{
	rm -rf "$1"
	mkdir -p "$1"
	if ! DESTDIR=$1 "$cmake" --install "$build" --prefix "$2" \
	    > "$T/install.log" 2>&1; then
		cat "$T/install.log"
		fail "install into $1 failed"
		return
	fi
	listed=$(sed "s|^$1||" "$build/install_manifest.txt" | sort)
	laid=$(cd "$1" && find . -type f | sed 's|^\.||' | sort)
	[ "$listed" = "$laid" ] ||
	    fail "install_manifest.txt lists
$listed
but the install laid down
$laid"
}

expect_line()
{
	grep -qxF -- "$2" "$1" || fail "$1 has no line: $2"
}

if ! "$cmake" -S "$source_dir" -B "$build" -G "$generator" \
    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$build_type" \
    -DCOOLRUNG_TESTS=OFF > "$T/configure.log" 2>&1 ||
    ! "$cmake" --build "$build" -j2 > "$T/build.log" 2>&1; then
	cat "$T/configure.log" "$T/build.log" 2>/dev/null | tail -40
	echo "FAIL: the scratch build failed"
	exit 1
fi
grep -q "^COOLRUNG_INSTALL_FREEBSD_FILES:BOOL=$default$" \
    "$build/CMakeCache.txt" ||
    fail "COOLRUNG_INSTALL_FREEBSD_FILES does not default to $default"
grep -q "^COOLRUNG_INSTALL_LINUX_FILES:BOOL=$linux_default$" \
    "$build/CMakeCache.txt" ||
    fail "COOLRUNG_INSTALL_LINUX_FILES does not default to $linux_default"

# Without the system's files.  (The installed daemon is the real one of
# this system, which is not run here: on Linux it would load a module.)
"$cmake" -DCOOLRUNG_INSTALL_FREEBSD_FILES=OFF -DCOOLRUNG_INSTALL_LINUX_FILES=OFF \
    "$build" > /dev/null
install_into "$T/plain" /usr/local
check_tree "$T/plain" "$(programs usr/local)"

# The Linux files.
"$cmake" -DCOOLRUNG_INSTALL_LINUX_FILES=ON "$build" > /dev/null
install_into "$T/linux" /usr/local
check_tree "$T/linux" "$(programs usr/local
    linux_files usr/local/lib/systemd/system usr/lib/systemd/system-sleep)"
expect_line "$T/linux/usr/local/lib/systemd/system/coolrung.service" \
    'ExecStart=/usr/local/sbin/coolrung -d -c /usr/local/etc/coolrung.conf'

# The FreeBSD files: the log snippets live where they are absent, their
# syslog.d block closed so that it captures nothing after it ...
"$cmake" -DCOOLRUNG_INSTALL_FREEBSD_FILES=ON -DCOOLRUNG_INSTALL_LINUX_FILES=OFF \
    "$build" > /dev/null
install_into "$T/freebsd" /usr/local
check_tree "$T/freebsd" "$(programs usr/local; rc_script usr/local
    log_samples usr/local; live_log_files usr/local)"
[ ! -e "$T/freebsd/usr/local/etc/coolrung.conf" ] ||
    fail "the install created coolrung.conf"
etc=$T/freebsd/usr/local/etc
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
rc=$T/freebsd/usr/local/etc/rc.d/coolrung
expect_line "$rc" 'command="/usr/local/sbin/coolrung"'
expect_line "$rc" ': ${coolrung_config="/usr/local/etc/coolrung.conf"}'
grep -q "%%" "$rc" && fail "$rc keeps a placeholder"
sh -n "$rc" || fail "$rc is not valid sh"

# The prefix of the install, not of the configuring, goes into the script.
install_into "$T/opt" /opt/coolrung
check_tree "$T/opt" "$(programs opt/coolrung; rc_script opt/coolrung
    log_samples opt/coolrung; live_log_files opt/coolrung)"
expect_line "$T/opt/opt/coolrung/etc/rc.d/coolrung" \
    'command="/opt/coolrung/sbin/coolrung"'

# For a package, whose own mechanism makes the live log files from the
# samples: the samples only; for a port, whose framework installs the rc.d
# script, no script either.
"$cmake" -DCOOLRUNG_INSTALL_LIVE_LOG_FILES=OFF "$build" > /dev/null
install_into "$T/package" /usr/local
check_tree "$T/package" "$(programs usr/local; rc_script usr/local
    log_samples usr/local)"
"$cmake" -DCOOLRUNG_INSTALL_RC_SCRIPT=OFF "$build" > /dev/null
install_into "$T/port" /usr/local
check_tree "$T/port" "$(programs usr/local; log_samples usr/local)"

# A distribution's own places for the unit and the sleep hook (Debian
# 12's), configured as Debian's build does, with /etc for /usr.
"$cmake" -DCOOLRUNG_INSTALL_FREEBSD_FILES=OFF -DCOOLRUNG_INSTALL_LINUX_FILES=ON \
    -DCMAKE_INSTALL_SYSCONFDIR=/etc \
    -DCOOLRUNG_SYSTEMD_UNIT_DIR=/lib/systemd/system \
    -DCOOLRUNG_SYSTEMD_SLEEP_DIR=/lib/systemd/system-sleep "$build" > /dev/null
install_into "$T/distribution" /usr
check_tree "$T/distribution" "$(programs usr | sed 's|^usr/etc/|etc/|'
    linux_files lib/systemd/system lib/systemd/system-sleep)"
expect_line "$T/distribution/lib/systemd/system/coolrung.service" \
    'ExecStart=/usr/sbin/coolrung -d -c /etc/coolrung.conf'

finish install
