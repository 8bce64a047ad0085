#!/usr/bin/env bash
# Tests the release as users get it. Makes both artifacts (scripts/release.sh;
# the Windows installer's install/uninstall tests run under Wine in the
# windows preset's CTest, `ctest --preset windows -R installer`), then checks
# the Debian package: its files, control fields and lintian (no errors).
# Only with CI=true, as root on a machine that may be changed, it installs
# the package with apt, runs the tool, lets the LADSPA and LV2 hosts find the
# plug-ins by themselves, purges it and checks nothing of it is left.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
version="$(head -n 1 VERSION)"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

bash scripts/release.sh
deb="$root/build/release/quorvane_${version}-1_$(dpkg --print-architecture).deb"
installer="$root/build/release/quorvane-$version-setup.exe"
[ -s "$installer" ] || fail "no installer $installer"
# The version resource holds its strings in UTF-16.
strings -e l "$installer" | grep -A1 -x ProductVersion | grep -qx "$version" ||
  fail "the installer's ProductVersion is not $version"

echo "=== release: dpkg-deb -c $deb" >&2
contents="$(dpkg-deb -c "$deb")"
echo "$contents"
for path in usr/bin/quorvane usr/share/man/man1/quorvane.1.gz usr/lib/ladspa/quorvane.so \
            usr/lib/lv2/quorvane.lv2/manifest.ttl usr/lib/lv2/quorvane.lv2/quorvane.ttl \
            usr/lib/lv2/quorvane.lv2/presets.ttl usr/lib/lv2/quorvane.lv2/quorvane.so \
            'usr/share/quorvane/factory/qv$90.dat' usr/share/doc/quorvane/copyright \
            usr/share/doc/quorvane/changelog.Debian.gz usr/share/doc/quorvane/README.md.gz \
            usr/share/man/man7/quorvane-plugins.7.gz usr/share/man/man7/quorvane-control.7.gz \
            usr/share/doc/quorvane/examples/onair.liq usr/share/doc/quorvane/examples/onair-pipe.liq \
            usr/share/doc/quorvane/examples/quorvane-filter-chain.conf \
            usr/share/doc/quorvane/examples/quorvane-onair.service; do
  grep -qF " ./$path" <<<"$contents" || fail "the package lacks /$path"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for lib in libc6 libstdc++6 libsndfile1 libsoxr0 libebur128-1 libcpp-httplib; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

echo "=== release: lintian" >&2
lintian -I "$deb" || fail "lintian reports errors"

if [ "${CI:-}" != true ]; then
  echo "release: CI is not true, so the package is not installed here" >&2
  exit $status
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "FAIL: installing the package needs root" >&2
  exit 1
fi
if dpkg-query -W quorvane >/dev/null 2>&1; then
  echo "FAIL: a quorvane package is on this machine already; not touching it" >&2
  exit 1
fi

echo "=== release: apt-get install, use, purge" >&2
work="$(mktemp -d)"
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quorvane >/dev/null 2>&1 || true; rm -rf "$work"; }
trap purge EXIT
# A user's settings folder, which neither the package nor the tool may touch.
export HOME="$work/home"
mkdir -p "$HOME/.config/quorvane"
cp "$root/build/native/factory/qv\$93.dat" "$HOME/.config/quorvane/qv\$5.dat"
settings_before="$(cd "$HOME" && find .config -printf '%p %s %T@\n' | sort)"

DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null
[ "$(command -v quorvane)" = /usr/bin/quorvane ] || fail "quorvane is not /usr/bin/quorvane"
[ "$(quorvane --version)" = "quorvane $version" ] || fail "quorvane --version says $(quorvane --version)"
for page in quorvane quorvane-plugins quorvane-control; do
  man -w "$page" >/dev/null 2>&1 || fail "man $page finds no page"
done
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 2 pinknoise vol 0.3
quorvane process -q "$work/in.wav" "$work/out.wav" || fail "quorvane process"
[ "$(soxi -s "$work/out.wav" 2>/dev/null)" = 88200 ] || fail "quorvane process wrote no 2 s output"
(
  unset LADSPA_PATH LV2_PATH
  # The ladspa-sdk tools search no folder by default (Debian 12's default path
  # is broken), so analyseplugin is given the installed library; ffmpeg, sox's
  # other hosts and Liquidsoap search /usr/lib/ladspa themselves.
  analyseplugin /usr/lib/ladspa/quorvane.so | grep -q 'Plugin Label: "quorvane"' || fail "analyseplugin"
  ffmpeg -v error -i "$work/in.wav" -af ladspa=file=quorvane:plugin=quorvane -f null - || fail "ffmpeg ladspa by name"
  lv2info urn:quorvane:lv2:quorvane | grep -q 'Bundle:.*/usr/lib/lv2/quorvane.lv2' || fail "lv2info"
)

DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quorvane >/dev/null
if dpkg-query -W quorvane >/dev/null 2>&1; then fail "dpkg still knows quorvane after the purge"; fi
while read -r path; do
  if [ -e "/$path" ] && [ ! -d "/$path" ]; then fail "/$path is left after the purge"; fi
done < <(awk '{print substr($6, 3)}' <<<"$contents")
for dir in /usr/lib/lv2/quorvane.lv2 /usr/share/quorvane /usr/share/doc/quorvane; do
  if [ -e "$dir" ]; then fail "$dir is left after the purge"; fi
done
[ "$(cd "$HOME" && find .config -printf '%p %s %T@\n' | sort)" = "$settings_before" ] ||
  fail "the user's ~/.config/quorvane changed"
exit $status
