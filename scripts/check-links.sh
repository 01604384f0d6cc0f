#!/bin/sh
# Checks the links of README.md and docs/*.md, so that a renamed file or a
# renamed heading does not leave a reader (or a pointer from elsewhere)
# pointing at nothing.
#
# - Every relative Markdown link, [text](target) or [name]: target, must
#   name a file or folder that exists (relative to the document it is in);
#   a "#anchor" must match a heading of the target, or of the document itself
#   for a bare "#anchor", with GitHub's rule: lower case, spaces become '-',
#   punctuation is dropped, a repeated heading gets -1, -2, ... Links with a
#   scheme (https:, mailto:) are not followed.
# - Every path of the repository's own folders written in the text
#   (scripts/..., tests/..., docs/... and the like, in code or prose) must
#   exist, relative to the repository's top.
#
# Each broken one is named with its file and line; the exit status is 1 then.
# usage: check-links.sh [REPOSITORY-TOP]
set -eu
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$top"

# The folders whose paths are checked where the text names them.
folders='scripts|tests|packaging|checkers|checktool|common|testsupport|bench|fuzz|docs|\.ci'

# extract FILE: prints "LINE link TARGET" for every Markdown link and
# "LINE path PATH" for every path of the folders above.
extract() {
  awk -v folders="$folders" '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    {
      line = $0
      # [text](target) and ![alt](target); the text may span lines.
      rest = line
      while (match(rest, /\]\([^)]*\)/)) {
        target = substr(rest, RSTART + 2, RLENGTH - 3)
        sub(/^[ \t]*</, "", target); sub(/>[ \t]*$/, "", target)
        sub(/[ \t].*$/, "", target)            # a title after the target
        if (target != "") print NR, "link", target
        rest = substr(rest, RSTART + RLENGTH)
      }
      # [name]: target
      if (!fenced && match(line, /^ ? ? ?\[[^]]+\]:[ \t]*[^ \t]+/)) {
        target = substr(line, RSTART, RLENGTH)
        sub(/^[^]]*\]:[ \t]*/, "", target)
        print NR, "link", target
      }
      # Paths of our folders, at the start of a word, after a backtick or
      # an opening parenthesis (link targets were checked above).
      rest = line
      gsub(/\]\([^)]*\)/, "]", rest)
      pat = "(^|[ \t`(])(" folders ")/[A-Za-z0-9._/-]*"
      while (match(rest, pat)) {
        path = substr(rest, RSTART, RLENGTH)
        sub(/^[ \t`(]/, "", path)
        sub(/[.]+$/, "", path)                 # the end of a sentence
        print NR, "path", path
        rest = substr(rest, RSTART + RLENGTH)
      }
    }' "$1"
}

# anchors FILE: the anchors GitHub gives the headings of a Markdown file.
anchors() {
  LC_ALL=C awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    /^ ? ? ?#+[ \t]/ {
      h = $0
      sub(/^ *#+[ \t]+/, "", h); sub(/[ \t]+#+[ \t]*$/, "", h); sub(/[ \t]+$/, "", h)
      h = tolower(h)
      # A link in a heading counts by its text.
      while (match(h, /\[[^]]*\]\([^)]*\)/)) {
        t = substr(h, RSTART, RLENGTH); sub(/^\[/, "", t); sub(/\]\(.*$/, "", t)
        h = substr(h, 1, RSTART - 1) t substr(h, RSTART + RLENGTH)
      }
      # Dashes, quotes and ellipses of UTF-8 are punctuation too.
      gsub(/\342\200[\220-\246]/, "", h)
      gsub(/[!-,.\/:-@[-^`{-~]/, "", h)        # ASCII punctuation but - and _
      gsub(/ /, "-", h)
      a = h
      if (seen[h]++) a = h "-" (seen[h] - 1)
      print a
    }' "$1"
}

status=0
fail() {
  echo "$1:$2: broken link: $3 ($4)"
  status=1
}

for doc in README.md docs/*.md; do
  [ -f "$doc" ] || continue
  dir=$(dirname "$doc")
  extract "$doc" >"${TMPDIR:-/tmp}/check-links.$$" || { echo "$doc: could not be read"; exit 1; }
  while read -r line kind target; do
    if [ "$kind" = path ]; then
      [ -e "$target" ] || fail "$doc" "$line" "$target" "no such file or folder in the repository"
      continue
    fi
    case $target in
      [a-zA-Z]*:*) continue ;;                  # https:, mailto: and the like
    esac
    file=${target%%#*}
    anchor=
    case $target in *'#'*) anchor=${target#*#} ;; esac
    if [ -z "$file" ]; then
      resolved=$doc
    else
      case $file in
        /*) resolved=.$file ;;
        *) if [ "$dir" = . ]; then resolved=$file; else resolved=$dir/$file; fi ;;
      esac
      if [ ! -e "$resolved" ]; then
        fail "$doc" "$line" "$target" "$resolved does not exist"
        continue
      fi
    fi
    [ -n "$anchor" ] || continue
    case $resolved in
      *.md)
        if ! anchors "$resolved" | grep -q -x -F -e "$anchor"; then
          fail "$doc" "$line" "$target" "no heading of $resolved has the anchor #$anchor"
        fi ;;
      *)
        # Line anchors (#L12, #L12-L20) into other files are not checked.
        if ! printf '%s\n' "$anchor" | grep -q -x -E 'L[0-9]+(-L[0-9]+)?'; then
          fail "$doc" "$line" "$target" "#$anchor into $resolved, which is not Markdown"
        fi ;;
    esac
  done <"${TMPDIR:-/tmp}/check-links.$$"
  rm -f "${TMPDIR:-/tmp}/check-links.$$"
done
if [ "$status" -eq 0 ]; then
  echo "links: all found"
fi
exit "$status"
