#!/bin/bash
# The rendered manual page (doc/leapcheck.txt, in the Windows zips) keeps
# whole what users copy: no word is hyphenated across lines, and every path
# and the registry key of the page stand on one line.
#   manual_words_test.sh SOURCE_DIR
set -u
source "$(dirname "$0")/../lib/lib.sh"
page=$1/doc/leapcheck.1.in
text=$1/doc/leapcheck.txt

split=$(grep -nE '[[:alnum:]]-$' "$text")
[ -z "$split" ] || fail "words hyphenated across lines:"$'\n'"$split"
# The page's paths (/dev, /proc, /sys, /usr) and the registry key, with
# troff's escapes and punctuation taken off.
mapfile -t words < <(sed -e 's/\\-/-/g' -e 's/\\e/\\/g' -e 's/\\://g' -e 's/\\f[BIR]//g' "$page" |
  grep -oE '(/(dev|proc|sys|usr)/[A-Za-z0-9_./-]*[A-Za-z0-9_]|HKEY_LOCAL_MACHINE[A-Za-z\\]*[A-Za-z])' | sort -u)
[ "${#words[@]}" -gt 5 ] || fail "only ${#words[@]} paths found in $page"
for word in "${words[@]}"; do
  grep -qF -- "$word" "$text" || fail "split or missing in the rendered page: $word"
done
[ "$failures" -eq 0 ] && echo "manual_words: ${#words[@]} paths and keys whole, no word hyphenated"
exit "$failures"
