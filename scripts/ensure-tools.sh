# Sourced by the scripts of this repository: installs missing Debian packages.
#
#   ensure_packages cmake make g++ libgtest-dev ...
#
# Packages already installed are left alone, so on a prepared machine this
# costs one dpkg-query per package and never touches the network. Otherwise
# it runs `apt-get update` once and `apt-get install -y` for what is missing,
# as root directly or through sudo.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "cardfs: need root (or sudo) to run: $*" >&2
        return 1
    fi
}

package_installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

ensure_packages() {
    local missing=() pkg
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "cardfs: not a Debian system; make sure these are installed: $*" >&2
        return 0
    fi
    for pkg in "$@"; do
        package_installed "$pkg" || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "cardfs: installing ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}
