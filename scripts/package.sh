#!/usr/bin/env bash
# The Debian package.
#   scripts/package.sh --build   builds it (build/package/kivo-ip_<version>_amd64.deb)
#   scripts/package.sh           builds and checks it: lintian (no error, no
#       hardening note), the desktop entry, the AppStream metadata, the unit
#       and its exposure; then, as root, upgrades over a package of the earlier
#       layout, installs it anew, runs the installed service as its unit would
#       (also in the unit's sandbox, collecting a simulated point), refuses a
#       wrong start, upgrades over a site's settings and data and over a
#       deleted conffile, removes and purges it.
# The check leaves the machine as it found it: it purges the package, and
# removes /var/lib/kivo-ip and the user kivo-ip only when it made them. It
# skips the install when a kivo-ip it did not install is on the machine.
source "$(dirname "$0")/common.sh"

PACKAGE_DIR="$BUILD/package"
MARK="$BUILD/package-check.mark" # what an interrupted check made, for the next one
UNIT=/lib/systemd/system/kivo-ipd.service
STATE=/var/lib/kivo-ip
CONFIG=/etc/kivo-ip
SETTINGS="$STATE/registry.reg"
LOCAL_DB="$STATE/kivo-ip/KIVO_1.sqlite"
MAX_EXPOSURE=2.0
# The check's own machine-wide name, so that stations of other tests running
# on this machine neither stop it nor are stopped by it.
INSTANCE="kivo-package-check-$$"

fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}

step() { echo "package: $*"; }

# pack DIR [-D VAR=VALUE...]: packs the build into DIR; prints the .deb's path.
pack() {
    local dir="$1"
    shift
    mkdir -p "$dir"
    rm -f "$dir"/*.deb
    (cd "$BUILD" && cpack -G DEB -B "$dir" "$@" >"$dir/cpack.log" 2>&1) ||
        { cat "$dir/cpack.log" >&2; fail "cpack"; }
    ls "$dir"/kivo-ip_*.deb
}

build_package() {
    # Only the package's path goes to standard output.
    ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" >&2
    build kivo-ip kivo-ipd kivo-import kivo-package-files >&2
    pack "$PACKAGE_DIR"
}

check_metadata() {
    local deb="$1" notes
    step "lintian"
    # Errors fail; the notes that stay are listed, with why, in docs/operations/install.md.
    lintian --fail-on error --display-level ">=warning" "$deb" || fail "lintian reports errors"
    # Lintian says "no fortify functions" of a program where the compiler
    # found no call it could check (kivo-ip, kivo-import: Qt's and the
    # standard library's copies of unknown sizes); that every object is built
    # with _FORTIFY_SOURCE is checked in the compile commands instead.
    notes=$(lintian --display-level ">=info" "$deb" | grep "hardening-" |
        grep -v "hardening-no-fortify-functions" || true)
    [ -z "$notes" ] || fail "built without Debian's hardening flags: $notes"
    local unfortified
    unfortified=$(grep '"command"' "$BUILD/compile_commands.json" | grep -cv -- "-D_FORTIFY_SOURCE=" || true)
    [ "$unfortified" = 0 ] || fail "$unfortified objects compiled without _FORTIFY_SOURCE"
    step "desktop-file-validate and appstreamcli"
    desktop-file-validate "$ROOT"/packaging/*.desktop || fail "desktop entry"
    appstreamcli validate --no-net "$ROOT"/packaging/*.metainfo.xml || fail "AppStream metadata"
    check_exposure "$ROOT/packaging/kivo-ipd.service"
}

# The unit's sandbox as systemd-analyze rates it (0 safe .. 10 exposed).
check_exposure() {
    local out level
    if ! out=$(systemd-analyze security --offline=true --no-pager "$1" 2>&1); then
        step "systemd-analyze security cannot run here: $(tail -n 1 <<<"$out")"
        return 0
    fi
    level=$(sed -n 's/.*Overall exposure level for kivo-ipd.service: \([0-9.]*\).*/\1/p' <<<"$out")
    [ -n "$level" ] || fail "systemd-analyze security said: $out"
    awk -v l="$level" -v m="$MAX_EXPOSURE" 'BEGIN { exit !(l <= m) }' ||
        { echo "$out" | grep "✗" >&2; fail "the unit's exposure is $level, above $MAX_EXPOSURE"; }
    step "systemd-analyze security: exposure $level (at most $MAX_EXPOSURE)"
}

# systemd-analyze needs a system it can load units on; a container may lack it.
verify_unit() {
    local out
    if out=$(systemd-analyze verify "$UNIT" 2>&1); then
        step "systemd-analyze verify: accepted"
    elif grep -q "kivo-ipd.service" <<<"$out"; then
        echo "$out" >&2
        fail "systemd-analyze verify rejects the unit"
    else
        step "systemd-analyze verify cannot run here: $(head -n 1 <<<"$out")"
    fi
}

unit_value() { sed -n "s/^$1=//p" "$UNIT"; }

# The installed kivo-ipd with the unit's user, environment, working directory
# and umask, and a temporary folder of its own (PrivateTmp), without the rest
# of the sandbox (see sandboxed below).
SERVICE_TMP=""
run_service() {
    local env=()
    mapfile -t env < <(unit_value Environment)
    (umask "$(unit_value UMask)" && cd "$(unit_value WorkingDirectory)" &&
        runuser -u kivo-ip -- env "${env[@]}" TMPDIR="$SERVICE_TMP" KIVO_INSTANCE="$INSTANCE" \
            /usr/bin/kivo-ipd --workdir "$STATE" "$@")
}

# apt-get as an unattended upgrade runs it: no questions (a conffile prompt
# fails it), and waiting for the package database while another install on
# this machine holds it.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@" </dev/null; }

# Without the recommended packages, so that the purge leaves the machine as it was.
apt_install() {
    apt_get install --no-install-recommends "$1" >"$BUILD/package-apt.log" 2>&1 ||
        { cat "$BUILD/package-apt.log" >&2; fail "apt-get install $1"; }
    dpkg-query -W -f='${Status}' kivo-ip | grep -q "install ok installed" ||
        fail "apt-get install $1 left kivo-ip $(dpkg-query -W -f='${Status}' kivo-ip)"
}

purge() {
    if dpkg-query -W kivo-ip >/dev/null 2>&1; then
        apt_get purge kivo-ip >/dev/null 2>&1 || true
    fi
}

# Puts back what the check made, also after a failure or an interruption.
clean_up() {
    [ -f "$MARK" ] || return 0
    # Every step is tried, whatever the one before it said.
    set +e
    local made_user=0 made_state=0
    source "$MARK"
    stop_sandboxed
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    purge
    [ "$made_state" = 1 ] && rm -rf "$STATE" "$CONFIG"
    if [ "$made_user" = 1 ] && getent passwd kivo-ip >/dev/null; then
        deluser --system --quiet kivo-ip >/dev/null 2>&1 || true
        delgroup --system --quiet kivo-ip >/dev/null 2>&1 || true
    fi
    [ -n "$SERVICE_TMP" ] && rm -rf "$SERVICE_TMP"
    [ -n "$SIM_STATE" ] && rm -rf "$SIM_STATE"
    rm -f "$MARK"
    set -e
}

# Takes over what an interrupted check left; stays off a kivo-ip of others.
claim_machine() {
    clean_up
    if dpkg-query -W -f='${Status}' kivo-ip 2>/dev/null | grep -q "ok installed\|config-files" ||
        [ -e "$STATE" ] || [ -e "$CONFIG" ]; then
        step "SKIPPED the install check: kivo-ip, $STATE or $CONFIG is on this machine already"
        return 1
    fi
    local made_user=1
    getent passwd kivo-ip >/dev/null && made_user=0
    printf 'made_user=%s\nmade_state=1\n' "$made_user" >"$MARK"
    trap clean_up EXIT
    SERVICE_TMP=$(mktemp -d)
}

source "$(dirname "$0")/package-checks.sh"

deb=$(build_package)
step "built $deb"
[ "${1:-}" = "--build" ] && exit 0
check_metadata "$deb"
if [ "$(id -u)" -ne 0 ]; then
    step "SKIPPED the install check: it needs root"
    exit 0
fi
claim_machine || exit 0
version=$(dpkg-deb -f "$deb" Version)
check_upgrade_from_previous "$deb"
step "apt-get install $deb on a machine without the station"
apt_install "$deb"
check_first_install
check_installed
check_refusals
check_sandboxed_collection
add_site_data
check_upgrades "$version"
check_remove_and_purge
step "install, upgrades, sandbox, remove and purge: passed"
