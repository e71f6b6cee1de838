#!/usr/bin/env bash
# Each manual page, rendered as man renders it, lists exactly the long
# options that the program's --help lists (in its SYNOPSIS, COMMANDS and
# OPTIONS), and every item heading (.TP tag) comes out whole on one line.
#
#   manual_pages_test.sh DOCS_DIR VANTOR VANTORCTL VANTOR_SIM [VANTOR_STATION]
#
# VANTOR_STATION is the station, or a program printing its --help text;
# without it the station's page is not checked.
set -euo pipefail
docs=$1
declare -A programs=([vantor]=$2 [vantorctl]=$3 [vantor-sim]=$4)
if [[ -n "${5:-}" ]]; then
  programs[vantor-station]=$5
else
  echo "manual pages: no vantor-station given, its page is not checked"
fi

failures=0
fail() {
  echo "manual pages: $*" >&2
  failures=$((failures + 1))
}

# Text as man shows it, hyphens and minus signs as "-", lines not filled up
# to a width that would break a heading.
render() {
  groff -man -Tutf8 -P-cbou -rLL=200n "$@" 2>/dev/null | sed 's/\xe2\x80\x90/-/g; s/\xe2\x88\x92/-/g'
}

long_options() {
  grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u
}

# The sections that say how the program is called.
usage_sections() {
  awk '/^[A-Z]/ { keep = ($0 ~ /^(SYNOPSIS|COMMANDS|OPTIONS)$/) } keep'
}

for name in "${!programs[@]}"; do
  page=$docs/$name.1
  [[ -f "$page" ]] || { fail "no $page"; continue; }
  help=$(QT_QPA_PLATFORM=offscreen "${programs[$name]}" --help)
  listed=$(render "$page" | usage_sections | long_options)
  if [[ "$(long_options <<<"$help")" != "$listed" ]]; then
    fail "$name.1 and $name --help list different options (< --help, > $name.1):"
    diff <(long_options <<<"$help") <(echo "$listed") >&2 || true
  fi
  # A heading that goes on in the next source line comes out cut in two:
  # its brackets do not close on the line it is shown on.
  while IFS= read -r tag; do
    shown=$(printf '.TH T 1\n.SH S\n.TP\n%s\nx\n' "$tag" | render | grep -m1 '^       [^ ]' || true)
    opened=$(tr -cd '[(' <<<"$shown" | wc -c)
    closed=$(tr -cd '])' <<<"$shown" | wc -c)
    if [[ -z "$shown" || $opened -ne $closed ]]; then
      fail "$name.1: the heading \"$tag\" shows as \"${shown## }\""
    fi
  done < <(awk 'previous == ".TP" { print } { previous = $0 }' "$page")
done

if ((failures > 0)); then
  exit 1
fi
echo "manual pages: ${!programs[*]} agree with their --help"
