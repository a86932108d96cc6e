#!/bin/sh
# Writes CHANGELOG.md, kept as Keep a Changelog has it, as a Debian changelog
# on standard output: the form in which a Debian package carries its history.
# Each release is stamped a minute before the one after it, at the end of its
# day, so that releases of one day still come in order.
# usage: debian-changelog.sh CHANGELOG.md ADDRESS NAME...
changelog=$1 address=$2
shift 2
awk -v maintainer="$* <$address>" '
function close_entry() {
  if (version == "")
    return
  command = "date -u -R -d \"" date " 23:59 UTC " releases " minutes ago\""
  command | getline stamp
  close(command)
  printf "\n -- %s  %s\n\n", maintainer, stamp
}
# What is not released yet, and the links to each version, are left out.
/^## \[Unreleased\]/ { close_entry(); version = ""; next }
/^\[[^]]*\]: / { next }
/^## \[/ {
  close_entry()
  version = $2
  gsub(/[][]/, "", version)
  date = $4
  releases++
  printf "charpic (%s) unstable; urgency=medium\n\n", version
  next
}
version == "" || /^#/ { next }
/^- / { sub(/^- /, ""); printf "  * %s\n", $0; next }
/^  [^ ]/ { sub(/^  /, ""); printf "    %s\n", $0; next }
/^[^[:space:]]/ { printf "  * %s\n", $0 }
END { close_entry() }
' "$changelog"
