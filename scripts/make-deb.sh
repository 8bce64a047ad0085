#!/usr/bin/env bash
# Makes the Debian package quorvane_VERSION-1_ARCH.deb from a built native tree:
#   scripts/make-deb.sh [BUILD_DIR [OUT_DIR]]   (default build/native, build/release)
# The files are those `cmake --install` puts under /usr (stripped: the
# README, the plug-ins' and the web control's manual pages come compressed,
# the examples plain), plus the compressed manual page quorvane(1), the
# copyright file and the changelog; Depends comes
# from the shared libraries the binaries link (dpkg-shlibdeps). Prints the
# package's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)"
out="${2:-$root/build/release}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

version="$(head -n 1 "$root/VERSION")"
# The Debian revision of this packaging of the upstream version.
deb_version="$version-1"
arch="$(dpkg --print-architecture)"
# One date for the changelog and the archive's timestamps: the last commit's.
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# dpkg-shlibdeps expects a package's files in debian/PACKAGE of a source tree.
pkg="$work/debian/quorvane"
DESTDIR="$pkg" cmake --install "$build" --prefix /usr --strip >/dev/null

gzip -9n "$pkg/usr/share/man/man1/quorvane.1"
doc="$pkg/usr/share/doc/quorvane"
mkdir -p "$doc"
cp "$root/packaging/debian/copyright" "$doc/copyright"
maintainer="$(sed -n 's/^Maintainer: //p' "$root/packaging/debian/control.in")"
{
  printf 'quorvane (%s) unstable; urgency=medium\n\n' "$deb_version"
  printf '  * Release %s: the command-line processor with its manual page and\n' "$version"
  printf '    factory processes, the LADSPA and LV2 plug-ins, manual pages for\n'
  printf '    the plug-ins and the web control, and examples.\n\n'
  printf ' -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.Debian.gz"

find "$pkg" -type d -exec chmod 0755 {} +
find "$pkg" -type f -exec chmod 0644 {} +
chmod 0755 "$pkg/usr/bin/"*

# The source tree's control file, as little as dpkg-shlibdeps reads; it finds
# the package's root by its DEBIAN folder.
mkdir -p "$pkg/DEBIAN"
printf 'Source: quorvane\n\nPackage: quorvane\nArchitecture: any\n' >"$work/debian/control"
mapfile -t elves < <(cd "$pkg" && find usr -type f \( -path 'usr/bin/*' -o -name '*.so' \) | sort)
depends="$(cd "$work" && dpkg-shlibdeps -O "${elves[@]/#/-edebian/quorvane/}" | sed -n 's/^shlibs:Depends=//p')"
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size="$(du -s -k --apparent-size "$pkg/usr" | cut -f1)"

sed -e "s|@VERSION@|$deb_version|" -e "s|@ARCH@|$arch|" -e "s|@SIZE@|$size|" -e "s|@DEPENDS@|$depends|" \
  "$root/packaging/debian/control.in" >"$pkg/DEBIAN/control"
(cd "$pkg" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

deb="$out/quorvane_${deb_version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
