# Real inputs: the sample hosts files with the product's domain absent,
# present, duplicated, as an alias and with CR LF line ends; and URL-handler
# desktop entries of real Debian packages. Only the lines that must change
# may change.

# same_files WHAT EXPECTED-FILE ACTUAL-FILE
same_files() {
  if ! cmp -s "$2" "$3"; then
    fail "$1 differs (expected, then actual):"
    diff "$2" "$3" 2>&1 | head -n 10 | sed 's/^/    /'
  fi
}

# hosts_variant NAME OUTCOME: gives $CASE/NAME.given as /etc/hosts, runs, and
# compares with $CASE/NAME.expected and the hosts row with OUTCOME.
hosts_variant() {
  cp "$CASE/$1.given" /etc/hosts
  chmod 644 /etc/hosts
  run_tool
  echo "variant $1:"
  expect_run 0 "" "$2" correct
  same_files "/etc/hosts ($1)" "$CASE/$1.expected" /etc/hosts
}

sample_hosts_file() {  # sample_hosts_file FILE
  o=$SHARED_HOSTS_DIR/$1
  line="127.0.0.1 $PRODUCT"
  { cat "$o"; } >"$CASE/absent.given"
  { cat "$o"; echo "$CANON"; } >"$CASE/absent.expected"
  { cat "$o"; echo "$line"; } >"$CASE/present.given"
  { cat "$o"; echo "$CANON"; } >"$CASE/present.expected"
  { printf '127.0.0.1\t%s\n' "$PRODUCT"; cat "$o"; echo "$line"; } >"$CASE/duplicated.given"
  { echo "$CANON"; cat "$o"; echo "# $line"; } >"$CASE/duplicated.expected"
  { cat "$o"; echo "127.0.0.1 tolvane-alias $PRODUCT"; } >"$CASE/alias.given"
  { cat "$o"; echo "127.0.0.1 tolvane-alias $PRODUCT"; echo "$CANON"; } >"$CASE/alias.expected"
  { sed 's/$/\r/' "$o"; printf '10.0.0.1 %s\r\n' "$PRODUCT"; } >"$CASE/crlf.given"
  { sed 's/$/\r/' "$o"; echo "$CANON"; } >"$CASE/crlf.expected"
  hosts_variant absent repaired
  # The line is right but for its spacing: no repair, the file stays.
  cp "$CASE/present.given" "$CASE/present.expected"
  hosts_variant present correct
  hosts_variant duplicated repaired
  hosts_variant alias repaired
  hosts_variant crlf repaired
}

# entry_variant NAME: gives $CASE/NAME.given as the desktop entry, runs, and
# compares with a rebuild in which only Exec lines change.
entry_variant() {
  cp "$CASE/$1.given" "$ENTRY"
  awk '{ if (substr($0, 1, 4) == "Exec") { print "Exec=tolvane %u"; found = 1 } else print }
       END { if (!found) print "Exec=tolvane %u" }' "$CASE/$1.given" >"$CASE/$1.expected"
  run_tool
  echo "variant $1:"
  expect_run 0 "" correct repaired
  same_files "the desktop entry ($1)" "$CASE/$1.expected" "$ENTRY"
}

debian_desktop_entry() {  # debian_desktop_entry FILE
  cp "$1" "$CASE/as-shipped.given"
  sed 's/$/\r/' "$1" >"$CASE/crlf.given"
  head -c -1 "$1" >"$CASE/no-final-newline.given"
  for variant in as-shipped crlf no-final-newline; do
    entry_variant "$variant"
  done
}

# Packages whose desktop entries register URL handlers (x-scheme-handler).
PACKAGES="transmission-gtk deluge-gtk remmina gnome-maps hexchat"

fetch_entries() {
  debs=$SYSTEST_WORK/debs
  mkdir -p "$debs/x"
  for package in $PACKAGES; do
    if ! ls "$debs/${package}_"*.deb >/dev/null 2>&1; then
      (cd "$debs" && apt-get download -qq "$package" >/dev/null 2>&1) ||
        echo "could not download $package"
    fi
    for deb in "$debs/${package}_"*.deb; do
      [ -f "$deb" ] && dpkg-deb -x "$deb" "$debs/x/$package"
    done
  done
  grep -l 'x-scheme-handler' -r "$debs/x" --include='*.desktop' | sort
}

cases() {
  for file in $(ls "$SHARED_HOSTS_DIR" | grep '\.hosts$'); do
    run_case "hosts_$file" "sample_hosts_file $file"
  done
  entries=$(fetch_entries)
  [ -n "$entries" ] || { echo "FAIL no desktop entries could be fetched"; failed=$((failed + 1)); }
  for entry in $entries; do
    run_case "entry_$(basename "$entry")" "debian_desktop_entry $entry"
  done
}
