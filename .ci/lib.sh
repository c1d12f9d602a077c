# Sourced by the CI scripts: installs the Debian packages a fresh machine lacks.
#
#   need PACKAGE THING...   queue PACKAGE unless every THING is there: a
#                           command name, or a path (glob) starting with /
#   install_missing WHO     apt-get install what was queued, saying who asks
#
# FreeBSD's own headers and C++ library (a sysroot), for checking the
# FreeBSD side against them, where the machine keeps them: relative to the
# repository's root.
FREEBSD_SYSROOT_TARBALL=../shared/freebsd-sysroot-12.1.tar.xz

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
