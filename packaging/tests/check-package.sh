#!/bin/sh
# The package installed into a scratch root and looked over: its programs, manual
# pages, desktop entries and systemd units, the service enabled by its maintainer
# scripts, and nothing left behind by a purge.
#
#   packaging/tests/check-package.sh qx-printing_0.1.0_amd64.deb
#
# As root it installs with dpkg --root, its maintainer scripts run outside a chroot
# with DPKG_ROOT set (so they touch nothing of this machine); otherwise it unpacks
# with dpkg -x and leaves out what only the scripts do.
set -u
deb=$(realpath "$1")
root=$(mktemp -d /tmp/qx-package.XXXXXX)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "check-package: $*" >&2; failures=$((failures + 1)); }

if [ "$(id -u)" = 0 ]; then
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
  touch "$root/var/lib/dpkg/status"
  dpkg --root="$root" --force-script-chrootless --force-depends -i "$deb" >"$root.log" 2>&1 ||
    { cat "$root.log" >&2; fail "dpkg --root could not install $deb"; }
  scripts=yes
else
  dpkg -x "$deb" "$root"
  scripts=no
fi

usr="$root/usr"
for program in qx-print qx-emulator PrintDemo QX470SETUP QX250SETUP qx-printer-app; do
  [ -x "$usr/bin/$program" ] || fail "no program /usr/bin/$program"
  page="$usr/share/man/man1/$program.1.gz"
  if [ ! -f "$page" ]; then
    fail "no manual page for $program"
  else
    # Rendered as lintian does; .so links resolve from the manual's folder.
    warnings=$(cd "$usr/share/man" && LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
      man --warnings -E UTF-8 -l -Tutf8 -Z "man1/$program.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$program.1: $warnings"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT EXAMPLE; do
      case $program in qx-print | qx-emulator) continue ;; esac
      page_text=$(cd "$usr/share/man" && MANWIDTH=80 man -l "man1/$program.1.gz" 2>/dev/null)
      echo "$page_text" | grep -q "^$section" || fail "$program.1 has no $section section"
    done
  fi
done
for lib in QX470.dll QX250.dll; do
  [ -f "$usr/lib/qx/$lib" ] || fail "no driver /usr/lib/qx/$lib"
done
"$usr/bin/qx-printer-app" --help >/dev/null 2>&1 || fail "the installed qx-printer-app does not run"

entries=0
for entry in "$usr"/share/applications/*.desktop; do
  [ -f "$entry" ] || continue
  entries=$((entries + 1))
  desktop-file-validate "$entry" || fail "$entry is not a valid desktop entry"
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -x "$usr/bin/$exec" ] || fail "$entry starts $exec, which is not installed"
  [ -f "$usr/share/icons/hicolor/32x32/apps/$icon.png" ] || fail "$entry shows $icon, which is not installed"
done
[ "$entries" = 3 ] || fail "$entries desktop entries instead of 3"

doc="$usr/share/doc/qx-printing"
for file in copyright changelog.gz user-guide.md; do
  [ -f "$doc/$file" ] || fail "no $doc/$file"
done
[ ! -e "$doc/README.md" ] || fail "the developers' README is installed"
[ -f "$root/etc/pam.d/qx-printer-app" ] || fail "no PAM service qx-printer-app"

system_unit="$root/lib/systemd/system/qx-printer-app.service"
user_unit="$root/lib/systemd/user/qx-printer-app.service"
[ -f "$system_unit" ] || system_unit="$usr/lib/systemd/system/qx-printer-app.service"
[ -f "$user_unit" ] || user_unit="$usr/lib/systemd/user/qx-printer-app.service"
[ -f "$system_unit" ] || fail "no system unit qx-printer-app.service"
[ -f "$user_unit" ] || fail "no user unit qx-printer-app.service"

# systemd-analyze verify in the scratch root needs the targets the units name;
# they come from this machine's systemd.
mkdir -p "$root/lib/systemd/system" "$root/lib/systemd/user"
cp -n /lib/systemd/system/*.target /lib/systemd/system/*.slice "$root/lib/systemd/system/" 2>/dev/null
cp -n /usr/lib/systemd/user/*.target "$root/lib/systemd/user/" 2>/dev/null
# systemd-analyze takes no root folder for user units: the user unit is checked
# as a system unit of another name (its keys mean the same there).
mkdir -p "$root/etc/systemd/system"
cp "$user_unit" "$root/etc/systemd/system/qx-printer-app-user.service"
for unit in qx-printer-app.service qx-printer-app-user.service; do
  out=$(MANPATH="$usr/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1) ||
    fail "systemd-analyze verify $unit: $out"
  [ -z "$out" ] || fail "systemd-analyze verify $unit: $out"
done
rm "$root/etc/systemd/system/qx-printer-app-user.service"

if [ "$scripts" = yes ]; then
  [ -L "$root/etc/systemd/system/multi-user.target.wants/qx-printer-app.service" ] ||
    fail "the maintainer scripts did not enable qx-printer-app.service"
  dpkg --root="$root" --force-script-chrootless --purge qx-printing >"$root.log" 2>&1 ||
    { cat "$root.log" >&2; fail "dpkg --root could not purge qx-printing"; }
  left=$(cd "$root" && find usr etc/pam.d etc/systemd -not -type d 2>/dev/null)
  [ -z "$left" ] || fail "left after purge: $left"
fi
rm -f "$root.log"

if [ "$failures" -gt 0 ]; then
  echo "check-package: $failures failures" >&2
  exit 1
fi
echo "check-package: $deb installs with its programs, manual pages, desktop entries and units"
