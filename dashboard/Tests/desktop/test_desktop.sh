#!/usr/bin/env bash
# test_desktop.sh <build folder> <source folder>
set -euo pipefail
build="$1"
source_root="$2"

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
for tool in xdg-open xdg-mime xvfb-run xauth dbus-run-session cmake; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh installs xdg-utils, xvfb, xauth and dbus)"
done

tmp="$(mktemp -d)"
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    chmod -R u+w "$tmp" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

# 1. The installed tree, under a prefix with a blank in it.
prefix="$tmp/a prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/VARNO" ] || fail "no executable at bin/VARNO"
[ -f "$prefix/lib/varno/VARNO.app/Contents/Resources/cli/varno.py" ] || fail "the engine is not installed"
[ -f "$prefix/lib/varno/VARNO.app/Contents/Info.plist" ] || fail "Info.plist is not installed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/org.varno.workshop.svg" ] || fail "the icon is not installed"
entry="$prefix/share/applications/org.varno.workshop.desktop"
# A path with a blank is quoted; one without reserved characters stays bare.
grep -qxF "Exec=\"$prefix/bin/VARNO\" %u" "$entry" || fail "Exec of the installed entry: $(grep '^Exec=' "$entry")"
grep -qxF "MimeType=x-scheme-handler/varno;" "$entry" || fail "the installed entry registers no varno: scheme"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "the installed entry is not a valid desktop entry"
fi

# 2. A user of our own, whose desktop knows an installed tree (xdg-utils
#    splits XDG_DATA_DIRS at blanks, so this prefix has none).
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
grep -qxF "Exec=$prefix/bin/VARNO %u" "$prefix/share/applications/org.varno.workshop.desktop" \
    || fail "Exec of the installed entry: $(grep '^Exec=' "$prefix/share/applications/org.varno.workshop.desktop")"
home="$tmp/home"
mkdir -p "$home/.runtime" "$home/.config" "$home/.cache" "$home/.local/share"
chmod 700 "$home/.runtime"
export HOME="$home"
export XDG_RUNTIME_DIR="$home/.runtime" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_DATA_HOME="$home/.local/share" XDG_DATA_DIRS="$prefix/share"
export VARNO_SETTINGS_FILE="$home/.config/VARNO/org.varno.workshop.ini" VARNO_SIM_SPEED=0
export QT_QPA_PLATFORM=offscreen
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID BROWSER VARNO_SIM_ROOT || true

xdg-mime default org.varno.workshop.desktop x-scheme-handler/varno
[ "$(xdg-mime query default x-scheme-handler/varno)" = "org.varno.workshop.desktop" ] \
    || fail "xdg-mime does not name the installed entry as the varno: handler"

# 3. The installed app runs; xdg-open hands varno://update to a second start,
#    which forwards it to the first.
log="$tmp/app.log"
"$prefix/bin/VARNO" >"$log" 2>&1 &
app_pid=$!
for _ in $(seq 600); do
    [ -S "$XDG_RUNTIME_DIR/org.varno.workshop.sock" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the app ended at start: $(cat "$log")"
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/org.varno.workshop.sock" ] || fail "the app never listened for other starts"

dbus-run-session -- xvfb-run -a xdg-open "varno://update" || fail "xdg-open varno://update failed"
for _ in $(seq 300); do
    grep -qF "Another start of the app sent: varno://update" "$log" && break
    sleep 0.1
done
grep -qF "Another start of the app sent: varno://update" "$log" || fail "the running app never got the address: $(cat "$log")"
kill -0 "$app_pid" 2>/dev/null || fail "the first start ended"

# 4. scripts/run's registration of the staged app for this user.
# shellcheck source=/dev/null
source "$source_root/scripts/setup.sh"
staged="$build/VARNO.app/Contents/MacOS/VARNO"
varno_register_desktop "$staged"
user_entry="$XDG_DATA_HOME/applications/org.varno.workshop.desktop"
case "$staged" in
    *[[:space:]\"\'\\\>\<~\|\&\;\$\*\?#\(\)\`]*) expected="Exec=\"$staged\" %u" ;;  # (plain paths in practice)
    *) expected="Exec=$staged %u" ;;
esac
grep -qxF "$expected" "$user_entry" || fail "Exec of the user's entry: $(grep '^Exec=' "$user_entry")"
[ "$(xdg-mime query default x-scheme-handler/varno)" = "org.varno.workshop.desktop" ] \
    || fail "xdg-mime does not name the user's entry as the varno: handler"
echo "PASS"
