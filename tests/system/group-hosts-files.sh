# Real hosts files, judged by the C library's resolver: the sample hosts
# files with the product's domain absent, present, duplicated, as an alias,
# in capitals, with "#" right after it, followed by aliases and several of
# these at once; read back through getent before and after the repair.

# names_of FILE: the names the resolver reads in FILE, but the product's
# domain, folded to lower case, once each.
names_of() {
  awk -v product="$PRODUCT" '{
      sub(/#.*/, ""); gsub(/[\r\v\f]/, " "); $0 = $0
      for (i = 2; i <= NF; i++) {
        name = tolower($i)
        if (name != product && !(name in seen)) { seen[name] = 1; print name }
      }
    }' "$1"
}

# sample_of NAMES-FILE GIVEN-FILE: all names of a small file; of a large one,
# the names on lines that mention the domain and about 10 spread over it
# (every lookup reads the whole file; every_name below reads every line of
# it once, and so answers for every name what getent hosts would).
sample_of() {
  total=$(wc -l <"$1")
  if [ "$total" -le 200 ]; then
    cat "$1"
  else
    {
      grep -i -F "$PRODUCT" "$2" | names_of /dev/stdin
      awk -v step=$((total / 10)) 'NR % step == 1' "$1"
    } | sort -u
  fi
}

# resolved NAMES-FILE: what the resolver answers for the names, in order,
# as addresses of both families (getent ahosts: every line of a name, which
# the enumeration below does not tell). A name without an answer adds
# nothing, so a lost or changed answer shows.
resolved() {
  xargs -r getent ahosts <"$1" | awk '{ print "ahosts " $1 }'
}

# every_name: every line the resolver enumerates, as name-address pairs, in
# order, the product's domain left out.
every_name() {
  getent hosts | awk -v product="$PRODUCT" '{
      for (i = 2; i <= NF; i++) if (tolower($i) != product) print tolower($i), $1
    }'
}

# hosts_variant NAME OUTCOME: gives $CASE/NAME.given as /etc/hosts, runs,
# compares with $CASE/NAME.expected, and asks the resolver: the domain maps
# to 127.0.0.1 only, every other name as before; a second run finds nothing.
hosts_variant() {
  cp "$CASE/$1.given" /etc/hosts
  chmod 644 /etc/hosts
  echo "variant $1:"
  names_of /etc/hosts >"$CASE/names"
  sample_of "$CASE/names" /etc/hosts >"$CASE/sample"
  resolved "$CASE/sample" >"$CASE/$1.resolved-before"
  every_name >"$CASE/$1.every-before"
  run_tool
  expect_run 0 "" "$2" correct
  same_files "/etc/hosts ($1)" "$CASE/$1.expected" /etc/hosts
  answer=$(getent ahosts "$PRODUCT" | awk '{ print $1 }' | sort -u | tr '\n' ' ')
  [ "$answer" = "127.0.0.1 " ] || fail "$1: $PRODUCT resolves to $answer"
  resolved "$CASE/sample" >"$CASE/$1.resolved-after"
  same_files "$1: other names looked up ($(wc -l <"$CASE/sample") of $(wc -l <"$CASE/names"))" \
    "$CASE/$1.resolved-before" "$CASE/$1.resolved-after"
  every_name >"$CASE/$1.every-after"
  same_files "$1: every name the resolver lists" "$CASE/$1.every-before" "$CASE/$1.every-after"
  grep -q '^ahosts ' "$CASE/$1.resolved-before" || fail "$1: getent found none of the names"
  run_tool --wrap "$(logged_pkexec)"
  expect_run 0 "" correct correct
  [ "$(pkexec_calls)" -eq 0 ] || fail "$1: the second run called pkexec"
}

sample_hosts_file() {  # sample_hosts_file FILE
  # The hosts file alone answers: no DNS (none in CI, slow or flaky here).
  sed -i '/^hosts:/d' /etc/nsswitch.conf
  echo 'hosts: files' >>/etc/nsswitch.conf
  o=$HOSTS_DATA_DIR/$1
  line="127.0.0.1 $PRODUCT"
  { cat "$o"; } >"$CASE/absent.given"
  { cat "$o"; echo "$CANON"; } >"$CASE/absent.expected"
  { cat "$o"; echo "$line"; } >"$CASE/present.given"
  { printf '127.0.0.1\t%s\n' "$PRODUCT"; cat "$o"; echo "$line"; } >"$CASE/duplicated.given"
  { echo "$CANON"; cat "$o"; echo "# $line"; } >"$CASE/duplicated.expected"
  # The domain as an alias, right after the first name, of the first
  # blocklist line, the first 127.0.1.1 line (the machine's own name) and
  # the first ::1 line; of a line of our own where the file has none.
  sed -E -e "0,/^0\.0\.0\.0[ \t]+[^ \t#]+/s//& $PRODUCT/" \
    -e "0,/^127\.0\.1\.1[ \t]+[^ \t#]+/s//& $PRODUCT/" \
    -e "0,/^::1[ \t]+[^ \t#]+/s//& $PRODUCT/" "$o" >"$CASE/alias.given"
  if cmp -s "$o" "$CASE/alias.given"; then
    { cat "$o"; echo "127.0.1.1 mybox $PRODUCT"; } >"$CASE/alias.given"
    { cat "$o"; echo "127.0.1.1 mybox"; echo "$CANON"; } >"$CASE/alias.expected"
  else
    { cat "$o"; echo "$CANON"; } >"$CASE/alias.expected"
  fi
  { cat "$o"; echo "10.0.0.5 LOCAL.Tolvane.COM"; } >"$CASE/capitals.given"
  { cat "$o"; echo "10.0.0.5 $PRODUCT#old"; } >"$CASE/hash.given"
  { cat "$o"; echo "$line mybox mybox.lan"; } >"$CASE/followed.given"
  { cat "$o"; echo "127.0.0.1 mybox mybox.lan"; echo "$CANON"; } >"$CASE/followed.expected"
  {
    cat "$CASE/alias.given"
    echo "10.0.0.5 LOCAL.Tolvane.COM"
    echo "10.0.0.5 $PRODUCT#old"
    echo "$line mybox mybox.lan"
  } >"$CASE/several.given"
  {
    head -n -1 "$CASE/alias.expected"  # without the appended entry
    echo "$CANON"
    echo "# 10.0.0.5 $PRODUCT#old"
    echo "127.0.0.1 mybox mybox.lan"
  } >"$CASE/several.expected"
  { sed 's/$/\r/' "$o"; printf '10.0.0.1 %s\r\n' "$PRODUCT"; } >"$CASE/crlf.given"
  { sed 's/$/\r/' "$o"; echo "$CANON"; } >"$CASE/crlf.expected"
  for variant in capitals hash; do
    cp "$CASE/absent.expected" "$CASE/$variant.expected"
  done
  # The line is right but for its spacing: no repair, the file stays.
  cp "$CASE/present.given" "$CASE/present.expected"

  hosts_variant absent repaired
  hosts_variant present correct
  for variant in duplicated alias capitals hash followed several crlf; do
    hosts_variant "$variant" repaired
  done
}

# The resolver reads a line as a C string: the entry before a NUL is the
# domain's entry, a name after one is not read at all.
nul_ends_the_line() {
  sed -i '/^hosts:/d' /etc/nsswitch.conf
  echo 'hosts: files' >>/etc/nsswitch.conf
  printf '127.0.0.1 localhost\n10.0.0.1 local.tolvane.com\000junk\n::1 x\000local.tolvane.com\n' \
    >/etc/hosts
  [ "$(getent hosts "$PRODUCT" | awk '{ print $1 }')" = 10.0.0.1 ] ||
    fail "the resolver does not read the entry before the NUL"
  run_tool
  expect_run 0 "" repaired correct
  printf '127.0.0.1 localhost\n%s\n::1 x\000local.tolvane.com\n' "$CANON" >"$CASE/expected"
  same_files "/etc/hosts" "$CASE/expected" /etc/hosts
  answer=$(getent ahosts "$PRODUCT" | awk '{ print $1 }' | sort -u | tr '\n' ' ')
  [ "$answer" = "127.0.0.1 " ] || fail "$PRODUCT resolves to $answer"
}

# Where the reading's buffer ends in the middle of the domain's line (its
# size taken from the program's own constant), and where the last line has
# no newline.
buffer_and_last_line() {
  sed -i '/^hosts:/d' /etc/nsswitch.conf
  echo 'hosts: files' >>/etc/nsswitch.conf
  o=$HOSTS_DATA_DIR/distro-void-base-files.hosts
  [ -s "$o" ] || { fail "no $o"; return; }
  kib=$(sed -n 's/.*kLineBufferSize = std::size_t{\([0-9]*\)} \* 1024;.*/\1/p' \
    "${SYSTEST_LIB%/*}/../../common/LineReader.h")
  [ -n "$kib" ] || { fail "kLineBufferSize is no longer {N} * 1024 in common/LineReader.h"; return; }
  buffer=$((kib * 1024))
  # A comment that ends 12 bytes before the buffer's end, then the entry.
  awk -v n="$buffer" 'BEGIN { printf "#"; for (i = 0; i < n - 12 - 2; i++) printf "x"; print "" }' >"$CASE/pad"
  { cat "$CASE/pad"; echo "10.0.0.1 $PRODUCT"; cat "$o"; } >"$CASE/straddle.given"
  { cat "$CASE/pad"; echo "$CANON"; cat "$o"; } >"$CASE/straddle.expected"
  [ "$(head -c "$buffer" "$CASE/straddle.given" | tail -c 12)" = "10.0.0.1 loc" ] ||
    fail "the entry does not straddle the buffer's end"
  { cat "$o"; printf '10.0.0.1 %s' "$PRODUCT"; } >"$CASE/unended.given"
  { cat "$o"; echo "$CANON"; } >"$CASE/unended.expected"
  head -c -1 "$o" >"$CASE/unended-absent.given"
  { cat "$o"; echo "$CANON"; } >"$CASE/unended-absent.expected"
  { cat "$o"; printf '%s' "$CANON"; } >"$CASE/unended-right.given"
  cp "$CASE/unended-right.given" "$CASE/unended-right.expected"
  hosts_variant straddle repaired
  hosts_variant unended repaired
  hosts_variant unended-absent repaired
  hosts_variant unended-right correct
}

# The hosts file has become a directory by the time the copy runs: the copy
# fails (-T), the directory stays as it is, and the row says so.
became_a_directory() {
  give_hosts "$BROKEN_HOSTS"
  wrap=$(logged_pkexec 'touch /tmp/pkexec-started; while [ ! -e /tmp/swapped ]; do sleep 0.05; done')
  run_tool --as alice --wrap "$wrap" &
  runner=$!
  wait_until '[ -e /tmp/pkexec-started ]'
  rm /etc/hosts
  mkdir /etc/hosts
  echo keep >/etc/hosts/inside
  touch /tmp/swapped
  wait "$runner"
  expect_run 0 "" failed correct
  [ "$(ls -A /etc/hosts)" = inside ] && [ "$(cat /etc/hosts/inside)" = keep ] ||
    fail "the directory changed: $(ls -A /etc/hosts)"
}

cases() {
  run_case nul_ends_the_line nul_ends_the_line
  run_case buffer_and_last_line buffer_and_last_line
  run_case became_a_directory became_a_directory
  count=$(ls "$HOSTS_DATA_DIR" 2>/dev/null | grep -c '\.hosts$')
  if [ "$count" -lt 11 ]; then
    failed=$((failed + 1))
    echo "FAIL sample hosts files: $count in $HOSTS_DATA_DIR, expected 11"
  fi
  for file in $(ls "$HOSTS_DATA_DIR" | grep '\.hosts$'); do
    run_case "hosts_$file" "sample_hosts_file $file"
  done
}
