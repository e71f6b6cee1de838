#!/usr/bin/env bash
# vantor-station's unit as systemd would take it: `systemd-analyze verify`
# says nothing about it, `systemd-analyze security` puts its exposure at or
# under the bound, and the sysusers file makes the user the unit runs as, in
# dialout, at home in the unit's state directory.
#
#   station_unit_test.sh UNIT SYSUSERS MANUAL_PAGE [EXECUTABLE]
#
# The unit's ExecStart points at EXECUTABLE (the built vantor-station), or
# at /bin/true while there is none: verify wants a program that exists.
set -euo pipefail
unit=$1 sysusers=$2 page=$3 executable=${4:-/bin/true}
max_exposure=${MAX_EXPOSURE:-2.5}

failures=0
fail() {
  echo "station unit: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$unit")
sed "s|^ExecStart=/usr/bin/vantor-station|ExecStart=$executable|" "$unit" >"$work/$name"
grep -q "^ExecStart=$executable " "$work/$name" || fail "no ExecStart=/usr/bin/vantor-station in $unit"

# Documentation=man:vantor-station(1) is checked by verify too: it finds the
# page being tested, not an installed one.
mkdir -p "$work/man/man1"
ln -s "$(realpath "$page")" "$work/man/man1/vantor-station.1"

# Lines about other units (a dependency's own file) are not this unit's.
verify=$(cd "$work" && MANPATH="$work/man" systemd-analyze verify "$work/$name" 2>&1 || echo "exit status $?")
ours=$(grep -vE '^(/usr)?/lib/systemd/system/|^/etc/systemd/' <<<"$verify" || true)
if [[ -n "$ours" ]]; then
  fail "systemd-analyze verify:"
  echo "$ours" >&2
fi

security=$(systemd-analyze security --offline=yes "$work/$name" 2>&1 || true)
exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' <<<"$security")
if [[ -z "$exposure" ]]; then
  fail "systemd-analyze security gave no exposure level:"
  echo "$security" >&2
else
  echo "station unit: exposure $exposure (at most $max_exposure): $(grep -o 'Overall.*' <<<"$security")"
  awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }' ||
    fail "exposure $exposure is over $max_exposure:
$(grep '✗' <<<"$security")"
fi

# The user, as systemd-sysusers makes it on a system that has dialout.
root=$work/root
mkdir -p "$root/etc"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\n' >"$root/etc/group"
: >"$root/etc/shadow"
: >"$root/etc/gshadow"
systemd-sysusers --root="$root" "$(realpath "$sysusers")" >/dev/null 2>&1 ||
  fail "systemd-sysusers refuses $sysusers"
user=$(sed -n 's/^User=//p' "$unit")
group=$(sed -n 's/^Group=//p' "$unit")
state=$(sed -n 's/^StateDirectory=//p' "$unit")
entry=$(grep "^$user:" "$root/etc/passwd" || true)
if [[ -z "$entry" ]]; then
  fail "sysusers makes no user $user (User= of the unit)"
else
  IFS=: read -r _ _ uid gid _ home shell <<<"$entry"
  ((uid > 0 && uid < 1000)) || fail "$user has uid $uid, not a system user's"
  [[ "$home" == "/var/lib/$state" ]] || fail "$user's home is $home, not /var/lib/$state (StateDirectory=$state)"
  [[ "$shell" == */nologin ]] || fail "$user may log in: shell $shell"
  grep -q "^$group:x:$gid:" "$root/etc/group" || fail "$user's group is not $group (Group= of the unit)"
fi
grep -qE "^dialout:x:20:(.*,)?$user(,|$)" "$root/etc/group" || fail "$user is not in dialout"

if ((failures > 0)); then
  exit 1
fi
echo "station unit: verify is silent, exposure $exposure, the user is $user in dialout"
