# The installed service started as its unit starts it, where systemd is not
# the machine's init (a container, CI): sourced by scripts/package-checks.sh.
#
# Reproduced from the unit, with unshare (a mount namespace of its own) and
# setpriv: User=, Group= and the user's groups, WorkingDirectory=,
# Environment= (and what systemd adds: PATH, HOME, USER, LOGNAME, SHELL),
# UMask=, NoNewPrivileges=, CapabilityBoundingSet= (empty), AmbientCapabilities=
# (none), PrivateTmp= (new /tmp and /var/tmp), PrivateDevices= (a /dev of the
# pseudo-devices only), ProtectHome= (empty, read-only /home, /root,
# /run/user), ProtectSystem=strict with StateDirectory= (every mount read-only
# but the state directory), ProtectKernelTunables= (/proc/sys and /sys
# read-only) and ProtectControlGroups= (/sys/fs/cgroup read-only); with a
# seccomp filter of the same rules as systemd's (python3-seccomp),
# RestrictAddressFamilies= and MemoryDenyWriteExecute=.
# Not reproduced: the system-call filter, RestrictNamespaces=,
# LockPersonality=, PrivateUsers=, PrivateIPC=, ProtectClock=,
# ProtectHostname=, ProtectProc=, ProcSubset= and the watchdog (systemd's own
# machinery).

SANDBOX_LOG=""

# filtered COMMAND...: runs COMMAND under a seccomp filter that, as systemd
# does for RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6, refuses sockets
# of any other family, and, for MemoryDenyWriteExecute=, refuses memory both
# writable and executable and making memory executable afterwards.
FILTERED='import os, sys, errno, socket, mmap, seccomp
f = seccomp.SyscallFilter(seccomp.ALLOW)
refuse = seccomp.ERRNO(errno.EAFNOSUPPORT)
allowed = (socket.AF_UNIX, socket.AF_INET, socket.AF_INET6)
for family in range(max(allowed)):
    if family not in allowed:
        f.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.EQ, family))
f.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.GT, max(allowed)))
wx = mmap.PROT_WRITE | mmap.PROT_EXEC
f.add_rule(seccomp.ERRNO(errno.EPERM), "mmap", seccomp.Arg(2, seccomp.MASKED_EQ, wx, wx))
for call in ("mprotect", "pkey_mprotect"):
    f.add_rule(seccomp.ERRNO(errno.EPERM), call, seccomp.Arg(2, seccomp.MASKED_EQ, mmap.PROT_EXEC, mmap.PROT_EXEC))
f.load()
os.execv(sys.argv[1], sys.argv[1:])'

# enter_sandbox STATE WORKDIR UMASK ENV... -- COMMAND...: run as root inside
# the new mount namespace; ends by running COMMAND as the service's user.
enter_sandbox() {
    set -e
    local state="$1" workdir="$2" mask="$3" env=() mounts
    shift 3
    while [ "$1" != -- ]; do env+=("$1"); shift; done
    shift
    # The host's writable mounts, before the sandbox adds its own.
    mounts=$(findmnt -rn -o TARGET,OPTIONS | awk '$2 ~ /^rw/ { print $1 }')
    # PrivateDevices=
    local devs
    devs=$(mktemp -d)
    mount --rbind /dev "$devs"
    mount -t tmpfs -o mode=0755,nosuid,noexec tmpfs /dev
    for device in null zero full random urandom tty; do
        touch "/dev/$device"
        mount --bind "$devs/$device" "/dev/$device"
    done
    mkdir /dev/shm /dev/pts
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /dev/shm
    ln -s /proc/self/fd /dev/fd
    umount -l "$devs"
    rmdir "$devs"
    # PrivateTmp=, ProtectHome=
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /var/tmp
    for home in /home /root /run/user; do
        [ -d "$home" ] && mount -t tmpfs -o ro,mode=0755 tmpfs "$home"
    done
    # StateDirectory= stays writable under ProtectSystem=strict.
    mount --bind "$state" "$state"
    mount --bind /proc/sys /proc/sys
    for mount in $mounts /proc/sys; do
        case "$mount" in
        /proc/sys) mount -o remount,bind,ro "$mount" ;;
        /proc | /proc/* | /dev | /dev/* | /tmp | /var/tmp | /home | /root | /run/user | "$state"*) ;;
        *) mount -o remount,bind,ro "$mount" ;;
        esac
    done
    umask "$mask"
    exec setpriv --reuid=kivo-ip --regid=kivo-ip --init-groups --no-new-privs --bounding-set=-all \
        --inh-caps=-all --ambient-caps=-all -- /usr/bin/python3 -c "$FILTERED" \
        /usr/bin/env -i "${env[@]}" /bin/sh -c 'cd "$0" && exec "$@"' "$workdir" "$@"
}

# start_sandboxed ENV...: the unit's ExecStart in the background, with the
# unit's environment and the check's own additions.
start_sandboxed() {
    local env=() exec_start
    mapfile -t env < <(unit_value Environment)
    env+=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$STATE" USER=kivo-ip
        LOGNAME=kivo-ip SHELL=/usr/sbin/nologin KIVO_INSTANCE="$INSTANCE" "$@")
    read -r -a exec_start <<<"$(unit_value ExecStart)"
    SANDBOX_LOG="$SIM_STATE/service.log"
    FILTERED="$FILTERED" unshare --mount --propagation private -- \
        /bin/bash -c "$(declare -f enter_sandbox); enter_sandbox \"\$@\"" \
        sandbox "$STATE" "$(unit_value WorkingDirectory)" "$(unit_value UMask)" "${env[@]}" -- \
        "${exec_start[@]}" 2>"$SANDBOX_LOG" &
    SANDBOX_PID=$!
}

# SIGTERM, as systemctl stop sends; true when the service ended with status 0.
stop_sandboxed() {
    [ -n "$SANDBOX_PID" ] || return 0
    local pid="$SANDBOX_PID" status=0
    SANDBOX_PID=""
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" || status=$?
    return "$status"
}
