#!/bin/sh
# Loads reports of every status combination, in English and Chinese, into
# headless Chromium inside a minimal UTF-8 page, and checks what the browser
# made of them: one table, a header row of four cells, exactly two data rows
# of four cells in order, and the colours of the status texts. A screenshot
# of one page per language is kept in the output directory.
# usage: browser-test.sh REPORT-SAMPLE-PROGRAM OUTPUT-DIRECTORY
set -u
sample=$1
out=$2
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "SKIPPED: no chromium installed"
  exit 77
fi
mkdir -p "$out"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
flags="--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking --disable-component-update --disable-sync --user-data-dir=$profile"

GREEN="rgb(0, 128, 0)"
RED="rgb(255, 0, 0)"
passed=0
failed=0

# words LANG: the report's words in that language, one a line, from the
# tests' own catalogue: headings, row names, status words.
catalogue=$(dirname "$0")/../../testsupport/catalogue.tsv
words() {
  column=3
  [ "$1" != cs ] || column=2
  for id in 26 27 28 29 31 30 3 4 34 35 36; do
    awk -F '\t' -v id="$id" -v c="$column" '$1 == id { print $c }' "$catalogue"
  done
}
word() { words "$1" | sed -n "$2p"; }

# expected_row LANG LABEL OUTCOME: the cells of one data row, as the page's
# script writes them, and its coloured texts.
expected_cells() {
  lang=$1
  case $2 in
    correct) printf '"TD:%s","TD:","TD:"' "$(word "$lang" 7)" ;;
    repaired) printf '"TD:%s","TD:%s","TD:"' "$(word "$lang" 8)" "$(word "$lang" 9)" ;;
    failed) printf '"TD:%s","TD:%s","TD:"' "$(word "$lang" 8)" "$(word "$lang" 10)" ;;
    internal) printf '"TD:%s","TD:%s","TD:%s"' "$(word "$lang" 8)" "$(word "$lang" 10)" \
      "$(word "$lang" 11)" ;;
  esac
}
expected_colours() {
  lang=$1
  case $2 in
    correct) printf '"%s=%s"' "$(word "$lang" 7)" "$GREEN" ;;
    repaired) printf '"%s=%s","%s=%s"' "$(word "$lang" 8)" "$RED" "$(word "$lang" 9)" "$GREEN" ;;
    failed | internal) printf '"%s=%s","%s=%s"' "$(word "$lang" 8)" "$RED" "$(word "$lang" 10)" "$RED" ;;
  esac
}
codes() {  # codes OUTCOME FAMILY: check and repair codes that give OUTCOME
  case $1 in
    correct) echo "0 0" ;;
    repaired) echo "1 0" ;;
    failed) [ "$2" = hosts ] && echo "1 3" || echo "1 2" ;;
    internal) [ "$2" = hosts ] && echo "4 0" || echo "3 0" ;;
  esac
}

page() {  # page REPORT-FILE PAGE-FILE
  {
    printf '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>report</title></head><body>\n'
    cat "$1"
    cat <<'SCRIPT'
<pre id="verdict" style="display:none"></pre>
<script>
const tables = document.querySelectorAll("table");
const rows = tables.length ? Array.from(tables[0].rows) : [];
const result = {
  tables: tables.length,
  rows: rows.map(r => Array.from(r.cells).map(c => c.tagName + ":" + c.textContent)),
  colours: Array.from(document.querySelectorAll("table font"))
                .map(f => f.textContent + "=" + getComputedStyle(f).color),
};
document.getElementById("verdict").textContent = "VERDICT" + JSON.stringify(result) + "END";
</script></body></html>
SCRIPT
  } >"$2"
}

for lang in en cs; do
  n=0
  for pair in "correct internal" "repaired failed" "failed repaired" "internal correct"; do
    n=$((n + 1))
    set -- $pair
    name=$lang-$1-$2
    # shellcheck disable=SC2046
    "$sample" "$lang" $(codes "$1" hosts) $(codes "$2" setup) >"$out/$name.report.html"
    page "$out/$name.report.html" "$out/$name.html"
    # shellcheck disable=SC2086
    timeout 120 "$browser" $flags --dump-dom "file://$out/$name.html" >"$out/$name.dom" 2>"$out/$name.log"
    got=$(sed -n 's/.*<pre id="verdict"[^>]*>VERDICT\(.*\)END<\/pre>.*/\1/p' "$out/$name.dom")
    header=$(printf '"TH:%s","TH:%s","TH:%s","TH:%s"' "$(word "$lang" 1)" "$(word "$lang" 2)" \
      "$(word "$lang" 3)" "$(word "$lang" 4)")
    want=$(printf '{"tables":1,"rows":[[%s],["TD:%s",%s],["TD:%s",%s]],"colours":[%s,%s]}' \
      "$header" "$(word "$lang" 5)" "$(expected_cells "$lang" "$1")" \
      "$(word "$lang" 6)" "$(expected_cells "$lang" "$2")" \
      "$(expected_colours "$lang" "$1")" "$(expected_colours "$lang" "$2")")
    if [ "$got" = "$want" ]; then
      passed=$((passed + 1))
      echo "PASS $name"
    else
      failed=$((failed + 1))
      echo "FAIL $name"
      echo "  expected: $want"
      echo "  browser:  $got"
      echo "  (the report's words are expected as testsupport/catalogue.tsv gives them; the program's are in checktool/Messages.cpp)"
    fi
    if [ "$n" -eq 2 ]; then
      # shellcheck disable=SC2086
      timeout 120 "$browser" $flags --hide-scrollbars --window-size=900,420 \
        --screenshot="$out/report-$lang.png" "file://$out/$name.html" >/dev/null 2>&1 ||
        echo "  (no screenshot for $lang)"
    fi
  done
done
echo "screenshots: $out/report-en.png $out/report-cs.png"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
