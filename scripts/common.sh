# Shared by the scripts in this folder: package installation and the build step.
# Sourced, not run.

QUILLET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages every build needs.
QUILLET_BUILD_PACKAGES="cmake make g++ pkg-config qtbase5-dev libqt5sql5-sqlite libqt5sql5-psql postgresql libquazip1-qt5-dev libcpp-httplib-dev libssl-dev libdtl-dev fonts-wqy-microhei sqlite3 tinyproxy openssl"

# Installs the Debian packages given that are not installed yet.
quillet_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them as root: apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# Configures and builds into the folder given ($1), with any further CMake arguments.
quillet_build() {
    local dir=$1
    shift
    cmake -S "$QUILLET_ROOT" -B "$dir" "$@" >/dev/null || return 1
    cmake --build "$dir" --parallel "$(nproc)"
}
