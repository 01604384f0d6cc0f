# Desktop entries, judged by GLib and desktop-file-validate: entries made by
# hand the way people leave them, and the URL-handler entries of real Debian
# packages; after the repair, gio open starts tolvane for a tolvane: link.
# Entries GLib cannot use are left as they are.

# gio_opens [PROGRAM...]: sets the entry as the default handler of tolvane:
# links, opens one with gio and says what was started, with which arguments.
# The PROGRAMs are there too (what TryExec asks for), doing nothing.
gio_opens() {
  mkdir -p "$CASE/stand-in" "$CASE/xdg-config" "$CASE/home"
  for program in "$@"; do
    printf '#!/bin/sh\n' >"$CASE/stand-in/$program"
    chmod 755 "$CASE/stand-in/$program"
  done
  for program in tolvane tolvane-legacy; do
    printf '#!/bin/sh\nprintf "%%s\\n" "%s" "$@" >%s/started\n' "$program" "$CASE" \
      >"$CASE/stand-in/$program"
    chmod 755 "$CASE/stand-in/$program"
  done
  printf '[Default Applications]\nx-scheme-handler/tolvane=tolvane-url.desktop\n' \
    >"$CASE/xdg-config/mimeapps.list"
  rm -f "$CASE/started"
  env -i PATH="$CASE/stand-in:/usr/bin:/bin" HOME="$CASE/home" XDG_DATA_DIRS=/usr/share \
    XDG_DATA_HOME="$CASE/home/data" XDG_CONFIG_HOME="$CASE/xdg-config" \
    XDG_CONFIG_DIRS="$CASE/xdg-config" gio open 'tolvane://open?file=a%20b&n=1' 2>&1
  wait_until '[ -s "$CASE/started" ]'
  tr '\n' ' ' <"$CASE/started" 2>/dev/null
}

expect_gio_starts_tolvane() {  # [PROGRAM...] for gio_opens
  started=$(gio_opens "$@")
  [ "$started" = "tolvane tolvane://open?file=a%20b&n=1 " ] ||
    fail "gio open started: ${started:-nothing}"
}

# entry_by_hand NAME OUTCOME GIVEN EXPECTED: a desktop entry as people leave
# it, repaired (or not) and then opened by GLib.
entry_by_hand() {
  give_entry "$3"
  run_tool
  echo "entry $1:"
  expect_run 0 "" correct "$2"
  expect_entry "$4"
  expect_gio_starts_tolvane
}

GOOD_MAIN="[Desktop Entry]
Type=Application
Name=Tolvane
"
ACTION="
[Desktop Action new-window]
Name=New window
Exec=tolvane --new-window %u
"

entries_by_hand() {
  entry_by_hand "legacy command, the right one in an action" repaired \
    "${GOOD_MAIN}Exec=tolvane-legacy %u

[Desktop Action open]
Name=Open
Exec=tolvane %u
" "${GOOD_MAIN}Exec=tolvane %u

[Desktop Action open]
Name=Open
Exec=tolvane %u
"
  entry_by_hand "right command, an action with its own" correct \
    "${GOOD_MAIN}Exec=tolvane %u
$ACTION" "${GOOD_MAIN}Exec=tolvane %u
$ACTION"
  entry_by_hand "ExecutionMode and a translated Exec" repaired \
    "${GOOD_MAIN}ExecutionMode=single
Exec[de]=tolvane-legacy %u
Exec=tolvane-legacy %u
" "${GOOD_MAIN}ExecutionMode=single
Exec[de]=tolvane-legacy %u
Exec=tolvane %u
"
  entry_by_hand "no Exec, an action after" repaired \
    "${GOOD_MAIN}MimeType=x-scheme-handler/tolvane;
$ACTION" "${GOOD_MAIN}MimeType=x-scheme-handler/tolvane;
Exec=tolvane %u
$ACTION"
  entry_by_hand "a form feed before = (GLib's last Exec)" repaired \
    "$(printf '%sExec=tolvane %%u\nExec\f=tolvane-legacy %%u' "$GOOD_MAIN")
" "${GOOD_MAIN}Exec=tolvane %u
Exec=tolvane %u
"
  entry_by_hand "CR LF and blanks around =" correct \
    "$(printf '[Desktop Entry]\r\nType=Application\r\nName=Tolvane\r\nExec = tolvane %%u\r')
" "$(printf '[Desktop Entry]\r\nType=Application\r\nName=Tolvane\r\nExec = tolvane %%u\r')
"
}

# entry_left_alone NAME GIVEN: an entry GLib cannot use is reported as an
# internal error and left byte for byte, without a prompt.
entry_left_alone() {
  give_entry "$2"
  run_tool --wrap "$(logged_pkexec)"
  echo "unusable entry $1:"
  expect_run 0 "" correct internal
  expect_entry "$2"
  [ "$(pkexec_calls)" -eq 0 ] || fail "$1: pkexec ran"
}

unusable_entries() {
  entry_left_alone "no Type" "[Desktop Entry]
Name=Tolvane
Exec=tolvane-legacy %u
"
  entry_left_alone "not the first group" "[Other]
A=b
${GOOD_MAIN}Exec=tolvane-legacy %u
"
  entry_left_alone "a line GLib cannot read" "${GOOD_MAIN}Exec=tolvane-legacy %u
Exec
"
  entry_left_alone "empty" ""
}

# An independent rebuild in which only the Exec lines of the main group
# change (the given entries all have one there).
rebuild_entry() {
  awk '{
      said = $0; sub(/\r$/, "", said)
      lead = said; sub(/^[ \t\r\v\f]+/, "", lead)
      if (substr(lead, 1, 1) == "[") {
        header = lead; sub(/[ \t\r\v\f]+$/, "", header)
        main = (header == "[Desktop Entry]")
      } else if (main && lead ~ /^Exec[ \t]*(=|$)/) {
        print "Exec=tolvane %u"; next
      }
      print
    }' "$1"
}

# entry_variant NAME: gives $CASE/NAME.given as the desktop entry, runs, and
# compares with the independent rebuild; what desktop-file-validate accepted
# before the repair it accepts after it, and GLib starts tolvane.
entry_variant() {
  cp "$CASE/$1.given" "$ENTRY"
  rebuild_entry "$CASE/$1.given" >"$CASE/$1.expected"
  desktop-file-validate "$ENTRY" >"$CASE/$1.valid-before" 2>&1
  valid_before=$?
  run_tool
  echo "variant $1:"
  expect_run 0 "" correct repaired
  same_files "the desktop entry ($1)" "$CASE/$1.expected" "$ENTRY"
  if [ "$valid_before" -eq 0 ] && ! desktop-file-validate "$ENTRY" >"$CASE/$1.valid-after" 2>&1; then
    fail "desktop-file-validate accepted $1 before the repair, not after:"
    sed 's/^/    /' "$CASE/$1.valid-after"
  fi
  # GLib starts an entry only when its TryExec program is found, and a
  # D-Bus activatable one only through the session bus, which is not here.
  tryexec=$(sed -n 's/^TryExec=//p' "$ENTRY" | tr -d '\r' | head -n 1)
  if grep -q '^DBusActivatable=true' "$ENTRY"; then
    echo "  gio open not tried: the entry is D-Bus activatable"
  elif [ "${tryexec#/}" != "$tryexec" ]; then
    echo "  gio open not tried: the entry needs $tryexec"
  else
    expect_gio_starts_tolvane $tryexec
  fi
}

debian_desktop_entry() {  # debian_desktop_entry FILE
  cp "$1" "$CASE/as-shipped.given"
  sed 's/$/\r/' "$1" >"$CASE/crlf.given"
  head -c -1 "$1" >"$CASE/no-final-newline.given"
  desktop-file-validate "$1" >/dev/null 2>&1 || fail "the entry as shipped does not validate"
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
  run_case entries_by_hand entries_by_hand
  run_case unusable_entries unusable_entries
  entries=$(fetch_entries)
  [ -n "$entries" ] || { echo "FAIL no desktop entries could be fetched"; failed=$((failed + 1)); }
  for entry in $entries; do
    run_case "entry_$(basename "$entry")" "debian_desktop_entry $entry"
  done
}
