#!/bin/sh
# The emulated ARM64 Wine that the ARM64 tree's tests run in, where no ARM64 machine exists: Debian
# bookworm's arm64 Wine 8 (wine64 and libwine, the same release as the machine's own Wine) with
# everything it depends on, downloaded with an APT configuration of its own (nothing arm64 is
# installed on the machine, and no foreign architecture is added) and unpacked into a folder of the
# cache outside the clone, each of its programs run by qemu-aarch64-static's user-mode emulation.
#
#   arm64-wine.sh setup   download and unpack it unless the cache has it, then print its folder
#   arm64-wine.sh path    print the folder of a complete one; otherwise say why on standard error
#                         and exit 1
#
# The folder holds sysroot/ (the unpacked packages) and bin/wine64 and bin/wineserver, which run the
# arm64 loader and server under emulation. TORV_CACHE_DIR moves the cache (default
# ${XDG_CACHE_HOME:-$HOME/.cache}/torvthumb); a folder counts as complete only once the file
# "complete" is in it, written after the emulated server answered.
set -eu

# Bumped whenever what is set up changes, so that a folder made otherwise is never taken for this one.
recipe=1
release=bookworm
qemu=/usr/bin/qemu-aarch64-static
cache=${TORV_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/torvthumb}/arm64-wine
apt_dir=$cache/apt

fail() {
    echo "arm64-wine: $*" >&2
    exit 1
}

complete_wine() {
    found=""
    for stamp in "$cache"/r$recipe-wine-*/complete; do
        [ -f "$stamp" ] && found=${stamp%/complete}
    done
    [ -n "$found" ] || return 1
    echo "$found"
}

# APT (apt-get or apt-cache, then its arguments) for arm64 packages, with a state, lists and
# downloads of its own.
apt_arm64() {
    tool=$1
    shift
    "$tool" -o APT::Architecture=arm64 -o APT::Architectures::=arm64 \
        -o Dir::State="$apt_dir/state" -o Dir::State::status="$apt_dir/state/status" \
        -o Dir::Cache="$apt_dir/cache" -o Dir::Etc::SourceList="$apt_dir/sources.list" \
        -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" -o Dir::Etc::Parts="$apt_dir/apt.conf.d" \
        -o Dir::Etc::Preferences="$apt_dir/preferences" -o Dir::Etc::PreferencesParts="$apt_dir/preferences.d" \
        -o Debug::NoLocking=1 $sandbox -qq "$@"
}

prepare_apt() {
    mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" \
             "$apt_dir/apt.conf.d" "$apt_dir/preferences.d"
    # An empty status: every package Wine needs is downloaded, whatever the machine has installed.
    : >"$apt_dir/state/status"
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    cat >"$apt_dir/sources.list" <<EOF
deb [signed-by=$keyring] http://deb.debian.org/debian $release main
deb [signed-by=$keyring] http://deb.debian.org/debian $release-updates main
deb [signed-by=$keyring] http://deb.debian.org/debian-security $release-security main
EOF
    sandbox=""
    # As root apt downloads as _apt, who may not enter the cache.
    [ "$(id -u)" -eq 0 ] && sandbox="-o APT::Sandbox::User=root"
    apt_arm64 apt-get update || fail "cannot read the arm64 package lists of Debian $release"
}

# Debian's arm64 Wine runs its programs through files that do not fit user-mode emulation without
# binfmt_misc, which this machine need not have; they are replaced by ones that start qemu.
adapt_wine() {
    wine_dir=$sysroot/usr/lib/wine
    # Debian's wineserver script starts /usr/lib/wine/wineserver64, which on this machine is the
    # x86-64 server ("wineserver doesn't support the aa64 architecture").
    cat >"$wine_dir/wineserver" <<EOF
#!/bin/sh
exec $qemu -L $sysroot $wine_dir/wineserver64 "\$@"
EOF
    # Wine starts each new process as "<its folder>/wine64-preloader <its folder>/wine64 ...";
    # Debian's arm64 Wine has no preloader, and the kernel would refuse the arm64 loader anyway.
    cat >"$wine_dir/wine64-preloader" <<EOF
#!/bin/sh
WINELOADERNOEXEC=1 exec $qemu -L $sysroot "\$@"
EOF
    chmod +x "$wine_dir/wineserver" "$wine_dir/wine64-preloader"
    mkdir -p "$folder/bin"
    # WINELOADERNOEXEC: the loader would otherwise start itself again through the preloader.
    cat >"$folder/bin/wine64" <<EOF
#!/bin/sh
WINELOADERNOEXEC=1 exec $qemu -L $sysroot $wine_dir/wine64 "\$@"
EOF
    cat >"$folder/bin/wineserver" <<EOF
#!/bin/sh
exec $qemu -L $sysroot $wine_dir/wineserver64 "\$@"
EOF
    chmod +x "$folder/bin/wine64" "$folder/bin/wineserver"
}

setup_wine() {
    [ -x "$qemu" ] || fail "$qemu is missing: run scripts/setup (qemu-user-static)"
    complete=$(complete_wine) && { echo "$complete"; return 0; }
    mkdir -p "$cache"
    exec 9>"$cache/setup.lock"
    flock 9
    complete=$(complete_wine) && { echo "$complete"; return 0; }
    prepare_apt
    version=$(apt_arm64 apt-cache policy wine64 | sed -n 's/^ *Candidate: //p')
    [ -n "$version" ] && [ "$version" != "(none)" ] || fail "Debian $release lists no arm64 wine64"
    folder="$cache/r$recipe-wine-$version"
    sysroot=$folder/sysroot
    rm -rf "$folder"
    echo "arm64-wine: downloading Debian $release's arm64 Wine $version and what it needs" >&2
    rm -f "$apt_dir/cache/archives/"*.deb
    apt_arm64 apt-get install -y --download-only --no-install-recommends "wine64=$version" "libwine=$version" \
        || fail "cannot download the arm64 Wine packages"
    mkdir -p "$sysroot"
    count=0
    for deb in "$apt_dir/cache/archives/"*.deb; do
        dpkg-deb -x "$deb" "$sysroot"
        count=$((count + 1))
    done
    adapt_wine
    # The emulated server answers without a prefix; the loader needs one, which the tests make.
    case "$("$folder/bin/wineserver" --version 2>&1)" in
      "Wine "*) ;;
      *) fail "the emulated Wine server does not start: $folder/bin/wineserver --version" ;;
    esac
    {
        echo "wine64 and libwine $version (Debian $release, arm64), with $count packages in all"
        echo "size: $(du -sk "$sysroot" | cut -f1) KiB unpacked"
    } >"$folder/complete.tmp"
    mv "$folder/complete.tmp" "$folder/complete"
    rm -f "$apt_dir/cache/archives/"*.deb
    sed 's/^/arm64-wine: /' "$folder/complete" >&2
    echo "$folder"
}

case "${1:-}" in
  setup) setup_wine ;;
  path) complete_wine || fail "the emulated ARM64 Wine is not set up in $cache: scripts/setup sets it up (cmake/arm64-wine.sh setup)" ;;
  *) echo "usage: $0 setup|path" >&2; exit 2 ;;
esac
