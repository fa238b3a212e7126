#!/bin/sh
# Prints who answers for the package, "Name <address>", as Debian's own
# tools find it: DEBFULLNAME and DEBEMAIL (DEBEMAIL may be "Name <address>"
# itself), else the git identity of the tree it is run in. Prints nothing
# and ends with status 1 when either half is missing or malformed, so that
# the caller can say in one line what to set.
name=${DEBFULLNAME:-}
email=${DEBEMAIL:-}
case $email in
  *'<'*'>'*)
    [ -n "$name" ] || name=$(printf '%s' "$email" | sed 's/[[:space:]]*<.*//')
    email=$(printf '%s' "$email" | sed 's/.*<\(.*\)>.*/\1/') ;;
esac
cd "$(dirname "$0")"
[ -n "$name" ] || name=$(git config user.name 2>/dev/null)
[ -n "$email" ] || email=$(git config user.email 2>/dev/null)
# A name with angle brackets or an address without an @ would make a
# Maintainer field lintian rejects.
case "$name" in ''|*'<'*|*'>'*) exit 1 ;; esac
case "$email" in *@*) ;; *) exit 1 ;; esac
case "$email" in *' '*|*'<'*|*'>'*) exit 1 ;; esac
printf '%s <%s>\n' "$name" "$email"
