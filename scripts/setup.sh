# Shared by scripts/run, scripts/test and scripts/screenshots: installs the
# Debian packages the build needs (only those missing), then configures and
# builds one preset. Sourced, not run.

VARNO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

VARNO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-svg-dev libqt6svg6 qcoro-qt6-dev libgl-dev
    python3 sqlite3 fontconfig
)

varno_install_packages() {
    local missing=() pkg
    for pkg in "${VARNO_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null; then
            sudo=(sudo)
        else
            echo "These Debian packages are missing and installing them needs root: ${missing[*]}" >&2
            return 1
        fi
    fi
    echo "Installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# varno_build <preset> [target...]
varno_build() {
    local preset="$1"
    shift
    cd "$VARNO_ROOT"
    if [ ! -f "build/$preset/CMakeCache.txt" ]; then
        cmake --preset "$preset" >/dev/null
    fi
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" --target "$@"
    else
        cmake --build --preset "$preset"
    fi
}

VARNO_BUNDLE_EXECUTABLE="Contents/MacOS/VARNO"
