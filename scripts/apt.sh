# APT for scripts/setup and third_party/fetch-sources (sourced, not run): the one place that calls
# apt-get with root rights, patient with the lock that other users of the machine may hold.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt is shared with other users of the machine: wait for its lock rather than fail.
apt_update() {
    tries=0
    until as_root apt-get -o DPkg::Lock::Timeout=300 update -qq; do
        tries=$((tries + 1))
        [ "$tries" -ge 10 ] && return 1
        sleep 30
    done
}

apt_install() {
    DEBIAN_FRONTEND=noninteractive as_root apt-get -o DPkg::Lock::Timeout=300 install -y -qq "$@" >/dev/null
}

# The packages of the list that are not installed yet.
missing_packages_of() {
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            printf '%s ' "$package"
        fi
    done
    return 0
}
