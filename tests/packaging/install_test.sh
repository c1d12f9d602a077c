#!/bin/sh
# Installs a fresh build of the tree into scratch DESTDIRs, with and without
# the FreeBSD files, and checks the exact list of files, their modes, the
# prefix written into the rc.d script, the install manifest, and that an
# administrator's coolrung.conf and edited log snippets survive.
#
# usage: install_test.sh CMAKE SOURCE_DIR GENERATOR CXX_COMPILER DEFAULT
#            LINUX_DEFAULT [BUILD_TYPE]
# DEFAULT is what COOLRUNG_INSTALL_FREEBSD_FILES must default to here,
# LINUX_DEFAULT what COOLRUNG_INSTALL_LINUX_FILES must.
set -u
cmake=$1
source_dir=$2
generator=$3
compiler=$4
default=$5
linux_default=$6
build_type=${7:-RelWithDebInfo}

S=$(mktemp -d "${TMPDIR:-/tmp}/coolrung-install.XXXXXX") || exit 1
trap 'rm -rf "$S"' EXIT
trap 'exit 1' HUP INT TERM
build=$S/build

failures=0
fail()
{
	echo "FAIL: $*"
	failures=$((failures + 1))
}

mode_of()
{
	stat -c %a "$1" 2>/dev/null || stat -f %Lp "$1"
}

# Files another part of the tree installs; checked for their mode only.
is_other_program()
{
	case $1 in
	*/bin/coolrung-preview | */sbin/coolrung-preview | \
	    */man/man8/coolrung-preview.8)
		return 0
		;;
	esac
	return 1
}

# check_tree DESTDIR PREFIX(without the leading /) FREEBSD(ON|OFF) LINUX(ON|OFF)
check_tree()
{
	root=$1
	prefix=$2
	expected="$prefix/etc/coolrung.conf.sample 644
$prefix/sbin/coolrung 755
$prefix/share/man/man5/coolrung.conf.5 644
$prefix/share/man/man8/coolrung.8 644"
	if [ "$3" = ON ]; then
		expected="$expected
$prefix/etc/rc.d/coolrung 755
$prefix/etc/syslog.d/coolrung.conf 644
$prefix/etc/syslog.d/coolrung.conf.sample 644
$prefix/etc/newsyslog.conf.d/coolrung.conf 644
$prefix/share/examples/coolrung/newsyslog-coolrung.conf.sample 644"
	fi
	if [ "$4" = ON ]; then
		expected="$expected
$prefix/lib/systemd/system/coolrung.service 644
usr/lib/systemd/system-sleep/coolrung 755
etc/modprobe.d/coolrung.conf 644"
	fi
	expected=$(echo "$expected" | sort)
	found=$(cd "$root" && find . -type f | sed 's|^\./||' | sort |
	    while read -r file; do
		if is_other_program "$file"; then
			mode=$(mode_of "$file")
			case $file in
			*.8) [ "$mode" = 644 ] || echo "$file $mode" ;;
			*) [ "$mode" = 755 ] || echo "$file $mode" ;;
			esac
		else
			echo "$file $(mode_of "$file")"
		fi
	    done)
	[ "$found" = "$expected" ] ||
	    fail "$root: installed
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
	    > "$S/install.log" 2>&1; then
		cat "$S/install.log"
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
    -DCOOLRUNG_TESTS=OFF > "$S/configure.log" 2>&1 ||
    ! "$cmake" --build "$build" -j2 > "$S/build.log" 2>&1; then
	cat "$S/configure.log" "$S/build.log" 2>/dev/null | tail -40
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
install_into "$S/plain" /usr/local
check_tree "$S/plain" usr/local OFF OFF

# The Linux files.
"$cmake" -DCOOLRUNG_INSTALL_LINUX_FILES=ON "$build" > /dev/null
install_into "$S/linux" /usr/local
check_tree "$S/linux" usr/local OFF ON
expect_line "$S/linux/usr/local/lib/systemd/system/coolrung.service" \
    'ExecStart=/usr/local/sbin/coolrung -d -c /usr/local/etc/coolrung.conf'

# The FreeBSD files: the log snippets live where they are absent, their
# syslog.d block closed so that it captures nothing after it ...
"$cmake" -DCOOLRUNG_INSTALL_FREEBSD_FILES=ON -DCOOLRUNG_INSTALL_LINUX_FILES=OFF \
    "$build" > /dev/null
install_into "$S/freebsd" /usr/local
check_tree "$S/freebsd" usr/local ON OFF
[ ! -e "$S/freebsd/usr/local/etc/coolrung.conf" ] ||
    fail "the install created coolrung.conf"
etc=$S/freebsd/usr/local/etc
[ "$(grep -v '^#' "$etc/syslog.d/coolrung.conf" | sed -n '1p;$p' |
    cut -f1 | tr '\n' ' ')" = "!coolrung !* " ] ||
    fail "syslog.d/coolrung.conf is no block from !coolrung to !*"
grep -q "^/var/log/coolrung.log[[:space:]]" "$etc/newsyslog.conf.d/coolrung.conf" ||
    fail "newsyslog.conf.d/coolrung.conf does not rotate /var/log/coolrung.log"

# ... and an administrator's table and edited snippets left alone.
for file in coolrung.conf syslog.d/coolrung.conf newsyslog.conf.d/coolrung.conf
do
	echo "# edited" >> "$etc/$file"
	cp "$etc/$file" "$S/admin.conf"
	DESTDIR=$S/freebsd "$cmake" --install "$build" --prefix /usr/local \
	    > /dev/null
	cmp -s "$S/admin.conf" "$etc/$file" ||
	    fail "a second install changed the administrator's $file"
done
rc=$S/freebsd/usr/local/etc/rc.d/coolrung
expect_line "$rc" 'command="/usr/local/sbin/coolrung"'
expect_line "$rc" ': ${coolrung_config="/usr/local/etc/coolrung.conf"}'
grep -q "%%" "$rc" && fail "$rc keeps a placeholder"
sh -n "$rc" || fail "$rc is not valid sh"

# The prefix of the install, not of the configuring, goes into the script.
install_into "$S/opt" /opt/coolrung
check_tree "$S/opt" opt/coolrung ON OFF
expect_line "$S/opt/opt/coolrung/etc/rc.d/coolrung" \
    'command="/opt/coolrung/sbin/coolrung"'

if [ $failures -ne 0 ]; then
	echo "$failures checks failed"
	exit 1
fi
echo "install: all checks passed"
