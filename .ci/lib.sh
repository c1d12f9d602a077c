# Sourced by the CI scripts: installs the Debian packages a fresh machine lacks.
#
#   need PACKAGE THING...   queue PACKAGE unless every THING is there: a
#                           command name, or a path (glob) starting with /
#   install_missing WHO     apt-get install what was queued, saying who asks
#
# FreeBSD's own headers and C++ library (a sysroot), for checking the
# FreeBSD side against them, where the machine keeps them: beside the
# repository, or beside the one it was cloned from (a clone for CI in
# /tmp), unless FREEBSD_SYSROOT_TARBALL says where.
sysroot_name=shared/freebsd-sysroot-12.1.tar.xz
if [ -z "${FREEBSD_SYSROOT_TARBALL:-}" ]; then
	FREEBSD_SYSROOT_TARBALL=../$sysroot_name
	origin=$(git remote get-url origin 2>/dev/null || true)
	if [ ! -f "$FREEBSD_SYSROOT_TARBALL" ] && [ -d "$origin" ] &&
	    [ -f "$origin/../$sysroot_name" ]; then
		FREEBSD_SYSROOT_TARBALL=$(cd "$origin/.." && pwd)/$sysroot_name
	fi
fi

missing=()

need()
{
	local package=$1 thing
	shift
	for thing in "$@"; do
		if [[ $thing == /* ]]; then
			compgen -G "$thing" >/dev/null || { missing+=("$package"); return; }
		else
			command -v "$thing" >/dev/null || { missing+=("$package"); return; }
		fi
	done
}

install_missing()
{
	[ ${#missing[@]} -gt 0 ] || return 0
	echo "$1: installing ${missing[*]}"
	apt-get update -qq
	DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
	missing=()
}
