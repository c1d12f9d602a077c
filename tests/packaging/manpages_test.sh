#!/bin/sh
# mandoc -Tlint over the manual pages.  Whether a page named by .Xr is
# installed on this machine says nothing of ours, so that message is left
# out, and so are complaints about the machine's own mandoc.db.
#
# usage: manpages_test.sh PAGE...
if ! command -v mandoc > /dev/null; then
	echo "SKIP: mandoc is not installed (Debian: apt-get install mandoc)"
	exit 77
fi
status=0
for page in "$@"; do
	found=$(mandoc -Tlint "$page" 2>&1 |
	    grep -v -e 'referenced manual not found' -e 'mandoc\.db')
	if [ -n "$found" ]; then
		echo "$found"
		status=1
	fi
done
[ $status -eq 0 ] && echo "mandoc -Tlint: $# pages clean"
exit $status
