#!/usr/bin/env bash
# The Debian package.
#   scripts/package.sh --build   builds it (build/package/kivo-ip_<version>_amd64.deb)
#   scripts/package.sh           builds and checks it: lintian, the desktop entry,
#       the AppStream metadata and the unit; then installs it with apt-get, runs
#       the installed service once, refuses a missing or unreadable configuration,
#       upgrades over a site's settings and data, removes and purges it.
# The check leaves the machine as it found it: it purges the package, and
# removes /var/lib/kivo-ip and the user kivo-ip only when it made them. It
# skips the install when a kivo-ip it did not install is on the machine.
source "$(dirname "$0")/common.sh"

PACKAGE_DIR="$BUILD/package"
MARK="$BUILD/package-check.mark" # what an interrupted check made, for the next one
UNIT=/lib/systemd/system/kivo-ipd.service
STATE=/var/lib/kivo-ip
CONFIG=/etc/kivo-ip
LOCAL_DB="$STATE/kivo-ip/KIVO_1.sqlite"

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
    local deb="$1"
    step "lintian"
    # Errors fail; the warnings that stay are listed, with why, in the README.
    lintian --fail-on error --display-level ">=warning" "$deb" || fail "lintian reports errors"
    step "desktop-file-validate and appstreamcli"
    desktop-file-validate "$ROOT"/packaging/*.desktop || fail "desktop entry"
    appstreamcli validate --no-net "$ROOT"/packaging/*.metainfo.xml || fail "AppStream metadata"
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

# The installed kivo-ipd as the unit runs it: its user, environment and
# working directory, with a temporary folder of its own (PrivateTmp).
SERVICE_TMP=""
run_service() {
    local env=()
    mapfile -t env < <(sed -n 's/^Environment=//p' "$UNIT")
    runuser -u kivo-ip -- env "${env[@]}" TMPDIR="$SERVICE_TMP" \
        /usr/bin/kivo-ipd --workdir "$STATE" "$@"
}

# Without the recommended packages, so that the purge leaves the machine as it was.
apt_install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$1" >"$BUILD/package-apt.log" 2>&1 ||
        { cat "$BUILD/package-apt.log" >&2; fail "apt-get install $1"; }
}

is_installed() {
    dpkg-query -W -f='${Status}' kivo-ip 2>/dev/null | grep -q "ok installed"
}

# Puts back what the check made, also after a failure or an interruption.
clean_up() {
    [ -f "$MARK" ] || return 0
    local made_user=0 made_state=0
    source "$MARK"
    if dpkg-query -W kivo-ip >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kivo-ip >/dev/null 2>&1 || true
    fi
    [ "$made_state" = 1 ] && rm -rf "$STATE" "$CONFIG.away"
    if [ "$made_user" = 1 ] && getent passwd kivo-ip >/dev/null; then
        deluser --system --quiet kivo-ip >/dev/null 2>&1 || true
        delgroup --system --quiet kivo-ip >/dev/null 2>&1 || true
    fi
    [ -n "$SERVICE_TMP" ] && rm -rf "$SERVICE_TMP"
    rm -f "$MARK"
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
}

check_installed() {
    step "installed programs"
    for program in kivo-ip kivo-ipd kivo-import; do
        local version
        version=$("/usr/bin/$program" --version) || fail "$program --version"
        [[ "$version" == "$program "* ]] || fail "$program --version says '$version'"
        "/usr/bin/$program" --help >/dev/null || fail "$program --help"
    done
    [ -e /etc/systemd/system/multi-user.target.wants/kivo-ipd.service ] &&
        fail "the service was enabled by the install"
    [ "$(stat -c %U:%G "$STATE")" = kivo-ip:kivo-ip ] || fail "$STATE is not the service's"
    verify_unit
    SERVICE_TMP=$(mktemp -d)
    chown kivo-ip "$SERVICE_TMP"
    step "kivo-ipd --once over an empty points table"
    run_service --once || fail "kivo-ipd --once"
    [ -f "$LOCAL_DB" ] || fail "no local database in $LOCAL_DB"
}

# A wrong configuration stops the service with a reason, never an idle run.
check_refusals() {
    local out
    step "a settings file the service cannot read"
    chmod 0600 "$CONFIG/registry.reg"
    chown root:root "$CONFIG/registry.reg"
    if out=$(run_service --once 2>&1); then fail "ran with unreadable settings"; fi
    grep -q "<3>ERROR: no se puede leer la configuración" <<<"$out" || fail "said: $out"
    chown kivo-ip:kivo-ip "$CONFIG/registry.reg"
    chmod 0660 "$CONFIG/registry.reg"
    step "no $CONFIG"
    mv "$CONFIG" "$CONFIG.away"
    if out=$(run_service --once 2>&1); then fail "ran without $CONFIG"; fi
    mv "$CONFIG.away" "$CONFIG"
    grep -q "<3>ERROR: falta la carpeta de configuración $CONFIG" <<<"$out" || fail "said: $out"
}

sql() { /usr/bin/python3 -c 'import sqlite3, sys
db = sqlite3.connect(sys.argv[1]); rows = db.execute(sys.argv[2]).fetchall(); db.commit()
print(rows[0][0] if rows else "")' "$LOCAL_DB" "$1"; }

# The site's settings, points and records: what an upgrade and a remove keep.
add_site_data() {
    sed -i 's/^"DelayAutoMin"=dword:0000003c/"DelayAutoMin"=dword:00000078/' "$CONFIG/registry.reg"
    grep -q '"DelayAutoMin"=dword:00000078' "$CONFIG/registry.reg" || fail "no DelayAutoMin to edit"
    echo "; site: edited" >>"$CONFIG/aliases.ini"
    sql "INSERT INTO confRegIP (IP, \"Desc\", Loc) VALUES ('127.0.9.9', 'Portería', 'L9')"  >/dev/null
    sql "INSERT INTO lectura (Codigo, Loc, NroTicket) VALUES (100, 9, 4242)" >/dev/null
}

check_site_data() {
    grep -q '"DelayAutoMin"=dword:00000078' "$CONFIG/registry.reg" || fail "$1: settings lost"
    grep -q "; site: edited" "$CONFIG/aliases.ini" || fail "$1: alias configuration lost"
    [ "$(sql "SELECT Loc FROM confRegIP WHERE IP = '127.0.9.9'")" = L9 ] || fail "$1: point lost"
    [ "$(sql "SELECT count(*) FROM lectura WHERE NroTicket = 4242")" = 1 ] || fail "$1: record lost"
}

check_upgrade() {
    step "upgrade to a newer build"
    local newer
    newer=$(pack "$BUILD/package-newer" -D CPACK_PACKAGE_VERSION="$1+check1") || fail "cpack of the newer build"
    apt_install "$newer"
    [ "$(dpkg-query -W -f='${Version}' kivo-ip)" = "$1+check1" ] || fail "the upgrade did not land"
    check_site_data "upgrade"
    run_service --once || fail "kivo-ipd --once after the upgrade"
}

check_remove_and_purge() {
    step "apt-get remove"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kivo-ip >/dev/null || fail "remove"
    [ -e /usr/bin/kivo-ipd ] && fail "remove left /usr/bin/kivo-ipd"
    check_site_data "remove"
    getent passwd kivo-ip >/dev/null || fail "remove took the user kivo-ip"
    step "apt-get purge"
    local out
    out=$(DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kivo-ip 2>&1) || fail "purge: $out"
    [ -e "$CONFIG" ] && fail "purge left $CONFIG"
    [ -f "$LOCAL_DB" ] || fail "purge took the data"
    grep -q "siguen en $STATE" <<<"$out" || fail "purge did not say where the data is: $out"
    dpkg-query -W kivo-ip >/dev/null 2>&1 && fail "purge left kivo-ip known to dpkg"
    getent passwd kivo-ip >/dev/null || fail "purge took the user kivo-ip"
}

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
step "apt-get install $deb"
apt_install "$deb"
check_installed
check_refusals
add_site_data
check_upgrade "$version"
check_remove_and_purge
step "install, upgrade, remove and purge: passed"
