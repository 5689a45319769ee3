#!/bin/sh
# Builds the PAPPL library qx-printer-app links: Debian's own source package of
# the PAPPL the machine's apt offers, with our fixes (the *.patch files beside this
# script, in the order of their names), as a static library with its headers, under
# PREFIX.
#
#   build-pappl.sh PREFIX
#
# The source comes through apt from the Debian archives this machine already
# uses: their "deb" entries are read again as "deb-src" into a private apt state
# under PREFIX, so the machine's own apt configuration is never changed. apt
# checks the tarball against the archive's signed index. Nothing is rebuilt when
# PREFIX already holds a build of the same source and patch.
set -eu

prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
version=${QX_PAPPL_VERSION:-1.3.1}
stamp="$version $(cat "$here"/*.patch "$0" | sha256sum | cut -d' ' -f1)"

if [ -f "$prefix/lib/libpappl.a" ] && [ "$(cat "$prefix/.stamp" 2>/dev/null)" = "$stamp" ]; then
    exit 0
fi

work="$prefix/work"
rm -rf "$work" "$prefix/lib" "$prefix/include"
mkdir -p "$work/apt/lists/partial" "$work/apt/parts" "$work/apt/archives/partial" "$prefix/lib" "$prefix/include/pappl"

# deb-src entries for every deb entry of the machine's sources (deb822 and one-line).
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*$/Types: deb-src/' "$f" > "$work/apt/parts/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$work/apt/parts/$(basename "$f")"
done
cat > "$work/apt/apt.conf" <<EOF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$work/apt/parts";
Dir::State::Lists "$work/apt/lists";
Dir::Cache::Archives "$work/apt/archives";
APT::Sandbox::User "root";
EOF
export APT_CONFIG="$work/apt/apt.conf"
apt-get update -qq -o Dir::State::status=/var/lib/dpkg/status >/dev/null
(cd "$work" && apt-get source -qq --download-only --tar-only "pappl=$version-*" >/dev/null 2>&1 ||
    apt-get source -qq --download-only --tar-only pappl >/dev/null)
tarball=$(ls "$work"/pappl_"$version".orig.tar.* 2>/dev/null | head -n 1)
if [ -z "$tarball" ]; then
    echo "build-pappl.sh: Debian's source of PAPPL $version could not be fetched" >&2
    exit 1
fi

tar -xf "$tarball" -C "$work"
src="$work/pappl-$version"
for patch in "$here"/*.patch; do
    patch -d "$src" -p1 --quiet < "$patch"
done

# As Debian builds it (GnuTLS, Avahi, PAM, libusb), but static: the app carries
# its own copy, so no other program on the machine sees our fixes or misses them.
(cd "$src" && ./configure -q --disable-shared --enable-static --with-tls=gnutls --with-dnssd=avahi \
    --prefix=/usr --with-papplstatedir=/var --with-papplsockdir=/run CFLAGS="-O2 -g -fPIC -w" >/dev/null)
make -C "$src/pappl" -s -j "${JOBS:-2}" libpappl.a >/dev/null

cp "$src/pappl/libpappl.a" "$prefix/lib/"
for h in base client device job loc log mainloop pappl printer subscription system; do
    cp "$src/pappl/$h.h" "$prefix/include/pappl/"
done
# The libraries the static archive needs, as its pkg-config file lists them.
sed -n 's/^Libs: //p' "$src/pappl/pappl.pc" | sed 's/-L[^ ]*//g; s/-lpappl//' > "$prefix/libs.txt"
echo "$stamp" > "$prefix/.stamp"
rm -rf "$work"
