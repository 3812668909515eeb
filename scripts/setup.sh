# Shared by scripts/run, scripts/test and scripts/screenshots: installs the
# Debian packages the build needs (only those missing), then configures and
# builds one preset. Sourced, not run.

VARNO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

VARNO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-svg-dev libqt6svg6 qcoro-qt6-dev libgl-dev
    python3 sqlite3 fontconfig
    # links the test programs several times faster than the default linker
    mold
    # the desktop tests: a private session bus, a headless X server, the
    # freedesktop tools that register and open the varno: scheme
    dbus xvfb xauth xdg-utils desktop-file-utils
    # the accessibility test: the accessibility bus and registry, the AT-SPI
    # client it drives the app with, and screenshots of the X display
    at-spi2-core python3-pyatspi python3-pil
    # scripts/format and its check in CI: the style is made for this
    # version (Debian 12's clang-format 14)
    clang-format
)

# Only the fuzz build (scripts/fuzz, scripts/test --fuzz) needs these: clang
# and its libFuzzer and sanitizer runtimes.
VARNO_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# varno_install_packages [extra package...]
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
# With VARNO_WERROR=ON in the environment (CI) every warning of our code is an
# error.
varno_build() {
    local preset="$1"
    shift
    cd "$VARNO_ROOT"
    if [ -n "${VARNO_WERROR:-}" ]; then
        cmake --preset "$preset" -DVARNO_WERROR="$VARNO_WERROR" >/dev/null
    elif [ ! -f "build/$preset/CMakeCache.txt" ]; then
        cmake --preset "$preset" >/dev/null
    fi
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" --target "$@"
    else
        cmake --build --preset "$preset"
    fi
}

VARNO_BUNDLE_EXECUTABLE="Contents/MacOS/VARNO"

# varno_register_desktop <executable>
# Registers an app executable for the current user: a desktop entry in
# $XDG_DATA_HOME/applications (default ~/.local/share/applications) whose Exec
# is that executable, made the handler of varno: addresses through xdg-mime,
# so that `xdg-open varno://update` reaches the running app.
varno_register_desktop() {
    local executable="$1"
    local contents
    contents="$(cd "$(dirname "$executable")/.." && pwd)"
    local apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
    local entry="$apps/org.varno.workshop.desktop"
    # Bare when the path holds none of the characters desktop entries
    # reserve (simple launchers such as xdg-open's own take only that);
    # otherwise quoted: ", `, $ and \ take a backslash inside the quotes,
    # then every backslash is doubled. A % is doubled either way.
    local quoted="$executable"
    if [[ "$quoted" =~ [][:space:]\"\'\\\>\<~\|\&\;\$\*\?#\(\)\`] ]]; then
        quoted="${quoted//\\/\\\\}"
        quoted="${quoted//\"/\\\"}"
        quoted="${quoted//\`/\\\`}"
        quoted="${quoted//\$/\\\$}"
        quoted="${quoted//\\/\\\\}"
        quoted="\"$quoted\""
    fi
    quoted="${quoted//%/%%}"
    mkdir -p "$apps"
    local line
    {
        while IFS= read -r line; do
            case "$line" in
                "#"*) ;;
                Exec=*) printf 'Exec=%s %%u\n' "$quoted" ;;
                Icon=*) printf 'Icon=%s\n' "$contents/Resources/images/AppIcon.svg" ;;
                *) printf '%s\n' "$line" ;;
            esac
        done < "$contents/Resources/org.varno.workshop.desktop"
    } > "$entry.tmp"
    mv -f "$entry.tmp" "$entry"
    if ! command -v xdg-mime >/dev/null; then
        echo "xdg-mime is missing (Debian package xdg-utils): varno: addresses are not registered." >&2
        return 1
    fi
    xdg-mime default org.varno.workshop.desktop x-scheme-handler/varno
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database "$apps" >/dev/null 2>&1 || true
    fi
}
