#!/usr/bin/env bash
# The Debian package, built as its README says, in a scratch copy of the
# tree: dpkg-buildpackage -us -uc -b; lintian with no error and no warning;
# the package's files, with their modes, exactly those of the tree's own
# install in the package's configuration (manual pages gzipped, and the
# files under /usr/share/doc/coolrung and the lintian overrides that
# debhelper adds); the
# administrator's files its only conffiles; and the maintainer scripts,
# run on the package unpacked in a scratch root, neither enabling nor
# starting the service on a first install.  The package is
# never installed here.  Ends with one summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

. .ci/lib.sh
need build-essential /usr/share/build-essential/list
need dpkg-dev dpkg-buildpackage
need debhelper dh
need lintian lintian
need init-system-helpers /usr/bin/deb-systemd-invoke
# lintian reads the manual pages through man.
need man-db man
need cmake cmake
need g++ g++
install_missing debian

S=$(mktemp -d /tmp/coolrung-deb.XXXXXX)
trap 'rm -rf "$S"' EXIT
src=$S/coolrung

checks=0
failures=0
check()
{
	checks=$((checks + 1))
	if "$@"; then
		echo "debian: ok: $what"
	else
		echo "debian: FAIL: $what"
		failures=$((failures + 1))
	fi
}

# The tree as it stands, tracked and new files, without build directories.
mkdir "$src"
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
	[ -e "$file" ] && printf '%s\0' "$file"
    done | tar --null -T - -cf - | tar -xf - -C "$src"

what="dpkg-buildpackage -us -uc -b"
built()
{
	local start=$SECONDS
	(cd "$src" && DEB_BUILD_OPTIONS=parallel=2 dpkg-buildpackage -us -uc -b) \
	    > "$S/build.log" 2>&1 || { tail -40 "$S/build.log"; return 1; }
	what="$what ($((SECONDS - start)) s)"
}
check built
changes=$(echo "$S"/coolrung_*.changes)
deb=$(ls "$S"/coolrung_*.deb)
[ -f "$changes" ] && [ -f "$deb" ] || { echo "debian: FAIL: no package"; exit 1; }

what="lintian: no error, no warning"
lintian_clean()
{
	lintian --fail-on error,warning --display-info "$changes" \
	    > "$S/lintian.log" 2>&1
	local status=$?
	sed 's/^/debian: lintian: /' "$S/lintian.log" |
	    grep -v 'running with root privileges'
	return $status
}
check lintian_clean

# "mode path" of every file and link under a root.
files_of()
{
	(cd "$1" && find . ! -type d -printf '%m %P\n' | sort -k2)
}

what="the package's files are the install's"
same_files()
{
	local stage=$S/stage
	mkdir "$stage" "$S/unpacked"
	DESTDIR=$stage cmake --install "$(echo "$src"/obj-*)" > /dev/null
	find "$stage/usr/share/man" -type f -name '*.[1-9]' -exec gzip -9n {} +
	dpkg-deb -x "$deb" "$S/unpacked"
	files_of "$stage" > "$S/wanted"
	printf '644 %s\n' usr/share/doc/coolrung/README.Debian \
	    usr/share/doc/coolrung/changelog.Debian.gz \
	    usr/share/doc/coolrung/copyright \
	    usr/share/lintian/overrides/coolrung >> "$S/wanted"
	sort -k2 -o "$S/wanted" "$S/wanted"
	files_of "$S/unpacked" > "$S/packaged"
	diff -u "$S/wanted" "$S/packaged" | sed 's/^/debian: /'
	[ "${PIPESTATUS[0]}" -eq 0 ] &&
	    grep -qx 'ExecStart=/usr/sbin/coolrung -d -c /etc/coolrung.conf' \
	    "$S/unpacked/lib/systemd/system/coolrung.service"
}
check same_files

what="conffiles: the table sample and the modprobe.d file"
dpkg-deb -e "$deb" "$S/control"
conffiles()
{
	[ "$(sort "$S/control/conffiles")" = "/etc/coolrung.conf.sample
/etc/modprobe.d/coolrung.conf" ]
}
check conffiles

# The maintainer scripts on the package unpacked in a scratch root, as on
# a machine that runs systemd (its directory in /run a scratch one): the
# real deb-systemd-helper, told the root by DPKG_ROOT, keeps its state and
# links there; the real deb-systemd-invoke, with no policy-rc.d (DPKG_ROOT
# points it at none), asks a stand-in systemctl that logs each call and
# finds the unit enabled when its link is in the scratch root.
root=$S/root
wants=$root/etc/systemd/system/multi-user.target.wants/coolrung.service
bin=$S/bin
mkdir -p "$bin" "$S/run-systemd" "$S/scripts"
dpkg-deb -x "$deb" "$root"
cat > "$bin/systemctl" <<EOF
#!/bin/sh
echo "systemctl \$*" >> "$S/standin.log"
for arg; do
	case \$arg in
	is-enabled)
		[ -L "$wants" ] && { echo enabled; exit 0; }
		echo disabled; exit 1 ;;
	is-active)
		[ "\$UNIT_ACTIVE" = yes ]; exit ;;
	esac
done
EOF
cat > "$bin/deb-systemd-helper" <<EOF
#!/bin/sh
DPKG_ROOT=$root exec perl /usr/bin/deb-systemd-helper "\$@"
EOF
cat > "$bin/deb-systemd-invoke" <<EOF
#!/bin/sh
DPKG_ROOT=$S/no-policy exec perl /usr/bin/deb-systemd-invoke "\$@"
EOF
chmod 755 "$bin/systemctl" "$bin/deb-systemd-helper" "$bin/deb-systemd-invoke"
# A script the package lacks does nothing.
for script in postinst prerm postrm; do
	touch "$S/control/$script"
	sed "s|/run/systemd/system|$S/run-systemd|g" "$S/control/$script" \
	    > "$S/scripts/$script"
done

# run SCRIPT ARGS...: its status, and the calls to systemctl in
# $S/standin.log.
run()
{
	: > "$S/standin.log"
	env PATH="$bin:$PATH" DPKG_MAINTSCRIPT_PACKAGE=coolrung \
	    DPKG_MAINTSCRIPT_NAME="$1" sh "$S/scripts/$1" "${@:2}" \
	    > "$S/script.log" 2>&1
}

calls()
{
	grep -Eq "systemctl( --[a-z]+)* $1 coolrung.service" "$S/standin.log"
}

what="a first install neither enables nor starts the service"
first_install()
{
	UNIT_ACTIVE=no run postinst configure && [ ! -L "$wants" ] &&
	    ! calls start && ! calls restart
}
check first_install

what="once enabled, an upgrade restarts the service and keeps it enabled"
upgrade()
{
	# What "systemctl enable" does.
	mkdir -p "${wants%/*}"
	ln -s /lib/systemd/system/coolrung.service "$wants"
	UNIT_ACTIVE=yes run postinst configure 0.1-1 && calls restart &&
	    [ -L "$wants" ]
}
check upgrade

what="removal stops the service, purge removes its links"
removal()
{
	UNIT_ACTIVE=yes run prerm remove && calls stop &&
	    run postrm remove && run postrm purge && [ ! -L "$wants" ]
}
check removal

if [ $failures -ne 0 ]; then
	echo "debian: $failures of $checks checks FAILED (logs: build, lintian above)"
	exit 1
fi
echo "debian: all $checks checks passed ($(basename "$deb"), lintian clean)"
