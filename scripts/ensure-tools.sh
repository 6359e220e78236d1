# Sourced by the scripts of this repository: installs missing Debian packages.
#
#   ensure_packages cmake make g++ libgtest-dev ...
#   ensure_packages --no-install-recommends wine wine64 ...
#
# An argument starting with "-" is passed to apt-get install as it is.
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
    local missing=() options=() pkg
    for pkg in "$@"; do
        case "$pkg" in
        -*) options+=("$pkg") ;;
        esac
    done
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "cardfs: not a Debian system; make sure these are installed: $*" >&2
        return 0
    fi
    for pkg in "$@"; do
        case "$pkg" in
        -*) ;;
        *) package_installed "$pkg" || missing+=("$pkg") ;;
        esac
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "cardfs: installing ${missing[*]}"
    if [ -z "${CARDFS_APT_UPDATED:-}" ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update
        CARDFS_APT_UPDATED=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${options[@]+"${options[@]}"}" "${missing[@]}"
}
