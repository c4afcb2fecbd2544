# The installed package's checks, sourced by scripts/package.sh (its fail,
# step, apt_install, run_service, unit_value, purge and paths).

SIM_PID=""
SIM_STATE=""
SANDBOX_PID=""
SIM_POINT=127.0.9.21
SIM_TICKETS="NroTicket BETWEEN 1000 AND 1002" # the three records the point serves

sql() { /usr/bin/python3 -c 'import sqlite3, sys
db = sqlite3.connect(sys.argv[1]); rows = db.execute(sys.argv[2]).fetchall(); db.commit()
print(rows[0][0] if rows else "")' "$LOCAL_DB" "$1"; }

# mode PATH: "owner:group:mode" as stat gives them.
mode() { stat -c %U:%G:%a "$1"; }

expect_mode() {
    [ "$(mode "$1")" = "$2" ] || fail "$3: $1 is $(mode "$1"), not $2"
}

# A package laid out as 1.0.0 was: the station's settings the conffile
# /etc/kivo-ip/registry.reg, which the service rewrote in place; made from
# the new package with 1.0.0's control files. Prints its path.
previous_package() {
    local dir="$BUILD/package-previous"
    rm -rf "$dir"
    mkdir -p "$dir"
    dpkg-deb -R "$1" "$dir/root"
    mv "$dir/root/usr/share/kivo-ip/registry.reg" "$dir/root/etc/kivo-ip/registry.reg"
    sed -i 's/^Version: .*/Version: 1.0.0/' "$dir/root/DEBIAN/control"
    printf '%s\n' /etc/kivo-ip/aliases.ini /etc/kivo-ip/registry.reg >"$dir/root/DEBIAN/conffiles"
    rm -f "$dir/root/DEBIAN/preinst"
    cat >"$dir/root/DEBIAN/postinst" <<'EOF'
#!/bin/sh
set -e
if [ "$1" = configure ]; then
    getent passwd kivo-ip >/dev/null ||
        adduser --system --group --quiet --home /var/lib/kivo-ip --no-create-home kivo-ip
    if [ ! -d /var/lib/kivo-ip ]; then
        mkdir -p /var/lib/kivo-ip
        chown kivo-ip:kivo-ip /var/lib/kivo-ip
        chmod 0750 /var/lib/kivo-ip
    fi
    chown root:kivo-ip /etc/kivo-ip
    chmod 2770 /etc/kivo-ip
    chown kivo-ip:kivo-ip /etc/kivo-ip/registry.reg
    chmod 0660 /etc/kivo-ip/registry.reg
    chown root:kivo-ip /etc/kivo-ip/aliases.ini
    chmod 0640 /etc/kivo-ip/aliases.ini
fi
EOF
    printf '#!/bin/sh\nset -e\n[ "$1" != purge ] || rm -rf /etc/kivo-ip\n' >"$dir/root/DEBIAN/postrm"
    chmod 0755 "$dir/root/DEBIAN/postinst" "$dir/root/DEBIAN/postrm"
    (cd "$dir/root" && find . -type f ! -path './DEBIAN/*' ! -path './etc/*' -printf '%P\0' |
        xargs -0 md5sum >DEBIAN/md5sums)
    dpkg-deb --root-owner-group -b "$dir/root" "$dir/kivo-ip_1.0.0_amd64.deb" >/dev/null ||
        fail "dpkg-deb of the 1.0.0 layout"
    echo "$dir/kivo-ip_1.0.0_amd64.deb"
}

# The settings a 1.0.0 station wrote in /etc/kivo-ip move, once, to its state.
check_upgrade_from_previous() {
    step "upgrade from 1.0.0, whose settings were the conffile $CONFIG/registry.reg"
    apt_install "$(previous_package "$1")"
    sed -i 's/^"DelayAutoMin"=dword:0000003c/"DelayAutoMin"=dword:00000078/' "$CONFIG/registry.reg"
    apt_install "$1"
    grep -q '"DelayAutoMin"=dword:00000078' "$SETTINGS" || fail "1.0.0's settings were not carried over"
    expect_mode "$SETTINGS" kivo-ip:kivo-ip:660 "upgrade from 1.0.0"
    [ "$(ls -A "$CONFIG")" = aliases.ini ] || fail "upgrade from 1.0.0 left in $CONFIG: $(ls -A "$CONFIG")"
    expect_mode "$CONFIG" root:kivo-ip:750 "upgrade from 1.0.0"
    expect_mode "$STATE" kivo-ip:kivo-ip:2770 "upgrade from 1.0.0"
    # Carried once: the station's later settings outlive the next configure.
    sed -i 's/^"DelayAutoMin"=dword:00000078/"DelayAutoMin"=dword:000000b4/' "$SETTINGS"
    apt_get install --reinstall "$1" >/dev/null 2>&1 || fail "reinstall"
    grep -q '"DelayAutoMin"=dword:000000b4' "$SETTINGS" || fail "a reinstall replaced the settings"
    purge
    rm -rf "$STATE"
}

check_first_install() {
    step "what the first install made"
    expect_mode "$STATE" kivo-ip:kivo-ip:2770 "first install"
    expect_mode "$STATE/kivo-ip" kivo-ip:kivo-ip:2770 "first install"
    expect_mode "$SETTINGS" kivo-ip:kivo-ip:660 "first install"
    cmp -s "$SETTINGS" /usr/share/kivo-ip/registry.reg || fail "the settings are not the default"
    expect_mode "$CONFIG" root:kivo-ip:750 "first install"
    expect_mode "$CONFIG/aliases.ini" root:kivo-ip:640 "first install"
    [ "$(ls -A "$CONFIG")" = aliases.ini ] || fail "$CONFIG holds $(ls -A "$CONFIG")"
    [ "$(dpkg-query -W -f='${Conffiles}' kivo-ip | awk 'NF { print $1 }')" = "$CONFIG/aliases.ini" ] ||
        fail "conffiles: $(dpkg-query -W -f='${Conffiles}' kivo-ip)"
}

# Every option the program's help names is in its manual page, and the help
# is in Spanish.
check_help() {
    local program="$1" help option text
    help=$("/usr/bin/$program" --help) || fail "$program --help"
    grep -Eq "Usage|Options:|Displays|help-all" <<<"$help" && fail "$program --help: $help"
    text=$(zcat "$2" | sed 's/\\-/-/g')
    for option in $(grep -Eo -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "man page $2 lacks $option"
    done
}

check_installed() {
    step "installed programs"
    for program in kivo-ip kivo-ipd kivo-import; do
        local version
        version=$("/usr/bin/$program" --version) || fail "$program --version"
        [[ "$version" == "$program "* ]] || fail "$program --version says '$version'"
    done
    check_help kivo-ip /usr/share/man/man1/kivo-ip.1.gz
    check_help kivo-ipd /usr/share/man/man8/kivo-ipd.8.gz
    check_help kivo-import /usr/share/man/man1/kivo-import.1.gz
    [ -e /etc/systemd/system/multi-user.target.wants/kivo-ipd.service ] &&
        fail "the service was enabled by the install"
    verify_unit
    chown kivo-ip "$SERVICE_TMP"
    step "kivo-ipd --once over an empty points table"
    run_service --once || fail "kivo-ipd --once"
    [ -f "$LOCAL_DB" ] || fail "no local database in $LOCAL_DB"
    [ "$(stat -c %A "$LOCAL_DB" | cut -c5-6)" = rw ] || fail "$LOCAL_DB is $(stat -c %A "$LOCAL_DB")"
}

# A wrong start stops with a reason, never an idle run nor a broken state.
check_refusals() {
    local out env=()
    step "a settings file the service cannot read"
    chown root:root "$SETTINGS"
    if out=$(run_service --once 2>&1); then fail "ran with unreadable settings"; fi
    grep -q "<3>ERROR: no se puede leer la configuración" <<<"$out" || fail "said: $out"
    chown kivo-ip:kivo-ip "$SETTINGS"
    step "the service's command run by root"
    mapfile -t env < <(unit_value Environment)
    out=$(cd "$STATE" && env "${env[@]}" KIVO_INSTANCE="$INSTANCE" /usr/bin/kivo-ipd --once 2>&1) &&
        fail "root collected on the service's state"
    grep -q "<3>ERROR: el estado de la estación en $STATE/kivo-ip pertenece al usuario kivo-ip" <<<"$out" ||
        fail "said: $out"
    [ -z "$(find "$STATE" -user root)" ] || fail "root left $(find "$STATE" -user root)"
    local status=0
    (cd "$STATE" && env "${env[@]}" /usr/bin/kivo-ipd --status >/dev/null 2>&1) || status=$?
    [ "$status" = 3 ] || fail "kivo-ipd --status by root: exit $status, not 3 (no service)"
}

# The simulated point on its own loopback address, serving three records.
start_point() {
    SIM_STATE=$(mktemp -d)
    /usr/bin/python3 "$ROOT/tools/sim/regpoint.py" --state "$SIM_STATE" --point "$SIM_POINT:3" \
        >"$SIM_STATE/out" 2>"$SIM_STATE/err" &
    SIM_PID=$!
    for _ in $(seq 100); do
        grep -q '^READY' "$SIM_STATE/out" 2>/dev/null && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.1
    done
    read -r ready SIM_FTP SIM_PARAM <"$SIM_STATE/out" || true
    [ "${ready:-}" = READY ] || fail "the simulated point did not start: $(cat "$SIM_STATE/err")"
}

# as USER [GROUP...] -- COMMAND...: a command as a user with the given
# supplementary groups (an operator of the service's group, or an outsider).
as() {
    local user="$1" groups=""
    shift
    while [ "$1" != -- ]; do groups="${groups:+$groups,}$(getent group "$1" | cut -d: -f3)"; shift; done
    shift
    local membership=(--clear-groups)
    [ -n "$groups" ] && membership=(--groups="$groups")
    setpriv --reuid="$user" --regid="$(id -g "$user")" "${membership[@]}" \
        env XDG_DATA_HOME="$STATE" KIVO_INSTANCE="$INSTANCE" HOME=/nonexistent "$@"
}

# The control socket's command, as an operator of the service's group.
operator_command() {
    as nobody kivo-ip -- /usr/bin/python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX); s.settimeout(10); s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n"); print(s.makefile().readline().strip())' \
        "$STATE/kivo-ip/kivo-ipd.sock" "$1"
}

# wait_for SECONDS COMMAND...: polls the command until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        kill -0 "$SANDBOX_PID" 2>/dev/null || return 1
        sleep 0.2
    done
}

collected() {
    [ "$(sql "SELECT count(*) FROM lectura WHERE $SIM_TICKETS")" = 3 ] &&
        [[ "$(as nobody kivo-ip -- /usr/bin/kivo-ipd --status)" == *"resultado correcto"* ]]
}

# The installed service started as its unit starts it, in the unit's sandbox
# (see enter_sandbox), collects a point that an operator of its group orders.
check_sandboxed_collection() {
    step "the service in the unit's sandbox collects a simulated point"
    start_point
    sql "INSERT INTO confRegIP (IP, \"Desc\", Loc, Activo) VALUES ('$SIM_POINT', 'Simulado', 'S1', 1)" >/dev/null
    start_sandboxed KIVO_FTP_PORT="$SIM_FTP" KIVO_PARAM_PORT="$SIM_PARAM"
    wait_for 30 as nobody kivo-ip -- /usr/bin/kivo-ipd --status ||
        fail "no answer to --status from the group: $(tail -n 5 "$SANDBOX_LOG")"
    local reply
    reply=$(operator_command descargar)
    [ "$reply" = ok ] || fail "the operator's 'descargar' got: $reply"
    wait_for 60 collected || fail "the sandboxed service collected nothing: $(tail -n 5 "$SANDBOX_LOG")"
    grep -q "DELE x" "$SIM_STATE/$SIM_POINT/events.log" || fail "the point was not emptied"
    local status=0
    as nobody -- /usr/bin/kivo-ipd --status >/dev/null 2>&1 || status=$?
    [ "$status" = 3 ] || fail "an outsider reached the service: --status exit $status"
    # Root, without the unit's environment, finds the packaged state.
    status=0
    (cd / && env -u XDG_DATA_HOME -u KIVO_REGISTRY -u KIVO_ALIASES HOME=/nonexistent \
        /usr/bin/kivo-ipd --status --points >/dev/null 2>&1) || status=$?
    [ "$status" = 0 ] || fail "root's --status --points without the unit's environment: exit $status"
    stop_sandboxed || fail "the sandboxed service did not end cleanly: $(tail -n 5 "$SANDBOX_LOG")"
    [ -z "$(find "$STATE" -user root)" ] || fail "root-owned files in $STATE"
    kill "$SIM_PID" && wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
    sql "DELETE FROM confRegIP WHERE IP = '$SIM_POINT'" >/dev/null
}

source "$(dirname "${BASH_SOURCE[0]}")/package-sandbox.sh"

# The site's settings, points and records: what an upgrade and a remove keep.
add_site_data() {
    sed -i 's/^"DelayAutoMin"=dword:0000003c/"DelayAutoMin"=dword:00000078/' "$SETTINGS"
    grep -q '"DelayAutoMin"=dword:00000078' "$SETTINGS" || fail "no DelayAutoMin to edit"
    echo "; site: edited" >>"$CONFIG/aliases.ini"
    # The administrator's choice of modes, which no configure resets.
    chmod 0644 "$CONFIG/aliases.ini"
    sql "INSERT INTO confRegIP (IP, \"Desc\", Loc) VALUES ('127.0.9.9', 'Portería', 'L9')" >/dev/null
    sql "INSERT INTO lectura (Codigo, Loc, NroTicket) VALUES (100, 9, 4242)" >/dev/null
}

check_site_data() {
    grep -q '"DelayAutoMin"=dword:00000078' "$SETTINGS" || fail "$1: settings lost"
    [ "$(sql "SELECT Loc FROM confRegIP WHERE IP = '127.0.9.9'")" = L9 ] || fail "$1: point lost"
    [ "$(sql "SELECT count(*) FROM lectura WHERE NroTicket = 4242")" = 1 ] || fail "$1: record lost"
    [ "$(sql "SELECT count(*) FROM lectura WHERE $SIM_TICKETS")" = 3 ] || fail "$1: collected records lost"
}

# newer_package VERSION: the same build as VERSION, with another default of
# the settings (as a new release may have). Prints its path.
newer_package() {
    local defaults="$BUILD/packaging/registry.reg"
    cp "$defaults" "$defaults.orig"
    sed -i 's/^"FTPtimeOut"=dword:0000ea60/"FTPtimeOut"=dword:00007530/' "$defaults"
    pack "$BUILD/package-newer" -D CPACK_PACKAGE_VERSION="$1" || true
    mv "$defaults.orig" "$defaults"
}

check_upgrades() {
    step "upgrade over the site's settings, points and records"
    local newer
    newer=$(newer_package "$1+check1")
    [ -n "$newer" ] || fail "cpack of the newer build"
    apt_install "$newer"
    [ "$(dpkg-query -W -f='${Version}' kivo-ip)" = "$1+check1" ] || fail "the upgrade did not land"
    check_site_data "upgrade"
    grep -q "; site: edited" "$CONFIG/aliases.ini" || fail "upgrade: alias configuration lost"
    expect_mode "$CONFIG/aliases.ini" root:kivo-ip:644 "upgrade"
    run_service --once || fail "kivo-ipd --once after the upgrade"
    step "upgrade over an alias configuration the administrator deleted"
    rm "$CONFIG/aliases.ini"
    newer=$(newer_package "$1+check2")
    [ -n "$newer" ] || fail "cpack of the newer build"
    apt_install "$newer"
    [ -e "$CONFIG/aliases.ini" ] && fail "the upgrade brought the deleted conffile back"
    run_service --once || fail "kivo-ipd --once without an alias configuration"
}

check_remove_and_purge() {
    step "apt-get remove"
    apt_get remove kivo-ip >/dev/null || fail "remove"
    [ -e /usr/bin/kivo-ipd ] && fail "remove left /usr/bin/kivo-ipd"
    check_site_data "remove"
    getent passwd kivo-ip >/dev/null || fail "remove took the user kivo-ip"
    step "apt-get purge"
    local out
    out=$(apt_get purge kivo-ip 2>&1) || fail "purge: $out"
    [ -e "$CONFIG" ] && fail "purge left $CONFIG"
    [ -f "$LOCAL_DB" ] || fail "purge took the data"
    [ -f "$SETTINGS" ] || fail "purge took the station's settings"
    grep -q "siguen en $STATE" <<<"$out" || fail "purge did not say where the data is: $out"
    dpkg-query -W kivo-ip >/dev/null 2>&1 && fail "purge left kivo-ip known to dpkg"
    getent passwd kivo-ip >/dev/null || fail "purge took the user kivo-ip"
}
