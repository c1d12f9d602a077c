#!/bin/sh
# The FreeBSD port against the tree: its pkg-plist names exactly the files
# a staged install of the port's own configuration (CMAKE_OFF and CMAKE_ON
# read from its Makefile) lays down, manual pages gzipped as the framework
# does; its @sample lines make the live files a plain install writes and
# the table the rc.d script reads; pkg-message names only paths the
# package has; and its files/ holds the project's rc.d script.
#
# usage: port_test.sh CMAKE SOURCE_DIR GENERATOR CXX_COMPILER [BUILD_TYPE]
. "$(dirname "$0")/lib.sh"
cmake=$1
source_dir=$2
port=$source_dir/packaging/freebsd/port
prefix=usr/local
scratch port
scratch_build "$source_dir" "$3" "$4" "${5:-}" \
    --target coolrung coolrung-preview

# The words of a Makefile variable, continuation lines joined.
makefile_var()
{
	sed -e ':a' -e '/\\$/{N;s/\\\n//;ba' -e '}' "$port/Makefile" |
	    sed -n "s/^$1=[[:space:]]*//p" | tr -s ' \t' '  '
}

# stage NAME -DVAR=VALUE...: installed into $T/NAME under /usr/local, as
# FreeBSD configures it by default, with the settings given.
stage()
{
	dir=$T/$1
	shift
	"$cmake" -DCOOLRUNG_INSTALL_FREEBSD_FILES=ON \
	    -DCOOLRUNG_INSTALL_LINUX_FILES=OFF "$@" "$build" > /dev/null ||
	    fail "configuring $dir failed"
	install_into "$dir" "/$prefix"
}

# Files and symbolic links under the prefix, relative to it.
files_in()
{
	(cd "$T/$1/$prefix" && find . ! -type d | sed 's|^\./||' | sort)
}

settings=
for var in $(makefile_var CMAKE_OFF); do settings="$settings -D$var=OFF"; done
for var in $(makefile_var CMAKE_ON); do settings="$settings -D$var=ON"; done
[ -n "$settings" ] || fail "the Makefile sets no CMAKE_OFF"
# shellcheck disable=SC2086 # one word a setting
stage port $settings
[ -z "$(cd "$T/port" && find . ! -type d | grep -v "^\./$prefix/")" ] ||
    fail "the port's install writes outside /$prefix"
find "$T/port/$prefix/share/man" -type f -name '*.[1-9]' -exec gzip -9n {} +

# The plist: files, and for @sample the sample and the live file it makes;
# %%EXAMPLESDIR%% is the framework's share/examples/PORTNAME.
examples=share/examples/$(makefile_var PORTNAME)
sed -e "s|%%EXAMPLESDIR%%|$examples|g" "$port/pkg-plist" > "$T/plist"
grep -n '%%' "$T/plist" && fail "pkg-plist has substitutions not checked here"
while read -r keyword first second; do
	case $keyword in
	@sample) echo "$first" >&3; echo "${second:-${first%.sample}}" >&4 ;;
	@dir)	echo "$first" >&5 ;;
	@*)	fail "pkg-plist: $keyword is not checked here" ;;
	*)	echo "$keyword" >&3 ;;
	esac
done < "$T/plist" 3> "$T/listed" 4> "$T/made" 5> "$T/dirs"
same "pkg-plist lists" "$(sort "$T/listed")" \
    "but the port's install lays down" "$(files_in port)"
while read -r file; do
	dir=${file%/*}
	[ -d "$T/port/$prefix/$dir" ] || grep -qx "$dir" "$T/dirs" ||
	    fail "@sample makes $file in $dir, which the package has not"
done < "$T/made"

# The live files of a plain install, and the table, are what @sample makes.
stage plain -DCOOLRUNG_INSTALL_LIVE_LOG_FILES=ON \
    -DCOOLRUNG_INSTALL_RC_SCRIPT=OFF
files_in plain > "$T/plain.files"
files_in port | sed 's/\.gz$//' | sort > "$T/port.files"
live=$(comm -23 "$T/plain.files" "$T/port.files")
expect_line "$source_dir/packaging/rc.d/coolrung" \
    ': ${coolrung_config="%%PREFIX%%/etc/coolrung.conf"}'
wanted=$(printf '%s\netc/coolrung.conf\n' "$live" | sort)
same "the @sample lines make" "$(sort "$T/made")" \
    "where the package wants" "$wanted"

# pkg-message names only what the package ships or makes.
for path in $(grep -o '%%PREFIX%%/[^ ,:;)]*' "$port/files/pkg-message.in" |
    sed 's|^%%PREFIX%%/||; s|\.$||'); do
	grep -qx "$path" "$T/listed" "$T/made" ||
	    fail "pkg-message names $path, which the package has not"
done
grep -o '%%[A-Z_]*%%' "$port/files/pkg-message.in" | grep -vx '%%PREFIX%%' &&
    fail "pkg-message has substitutions other than %%PREFIX%%"

# The rc.d script the framework installs (USE_RC_SUBR) is the project's,
# and so is the licence file.
rc=$(makefile_var USE_RC_SUBR)
[ "$rc" = coolrung ] || fail "USE_RC_SUBR is \"$rc\", not coolrung"
cmp -s "$port/files/$rc.in" "$source_dir/packaging/rc.d/coolrung" ||
    fail "files/$rc.in is not packaging/rc.d/coolrung"
[ "$(makefile_var LICENSE_FILE)" = '${WRKSRC}/LICENSE' ] &&
    [ -f "$source_dir/LICENSE" ] ||
    fail "LICENSE_FILE is not the tree's LICENSE"

finish port
