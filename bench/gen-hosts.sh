#!/bin/sh
# Writes a blocklist-style hosts file of about LINES lines to standard output:
# a header, section comments, blank lines, one "0.0.0.0 name" line for each
# blocked name (about 37 bytes a line), and last the product's own line,
# already correct, so that a check finds nothing to repair.
# usage: gen-hosts.sh LINES [broken]
set -eu
lines=$1
broken=${2:-}
awk -v n="$lines" -v broken="$broken" 'BEGIN {
  srand(7)
  print "# Blocklist generated for benchmarks"
  print "# " n " lines"
  print ""
  print "127.0.0.1 localhost"
  print "::1 localhost ip6-localhost ip6-loopback"
  for (i = 6; i < n; i++) {
    if (i % 1000 == 0) { print ""; print "# [section " i "]"; i++ }
    else printf "0.0.0.0 ads-%d-%d.example.com\n", i, int(rand() * 100000)
  }
  if (broken == "") print "127.0.0.1 local.tolvane.com"
}'
