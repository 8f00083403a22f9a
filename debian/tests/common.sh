# Shared by the tests: a new user's view of the installed suite.
# shellcheck shell=sh

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A fresh, empty home folder and no state folder of any kind.
new_home() {
    home=$(mktemp -d /tmp/xelor-home.XXXXXX)
    chmod 755 "$home"
    if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$home"; fi
    echo "$home"
}

# Runs a command as an ordinary user (nobody when run as root) whose home is
# $HOME_DIR and whose environment holds nothing of a developer's.
as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 "$@"
    else
        env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 "$@"
    fi
}

# As as_user, but in place of the calling (sub)shell: started as "(exec_as_user
# CMD) &", the job's PID is the command's own, so a signal sent to it arrives.
exec_as_user() {
    if [ "$(id -u)" -eq 0 ]; then
        exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 "$@"
    fi
    exec env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 "$@"
}

# Starts /usr/bin/xelsim on the first free loopback address; sets SIM_PID and
# SIM_ADDRESS. The unit always listens on port 10001.
start_sim() {
    ready=$HOME_DIR/xelsim.out
    for n in 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17; do
        : >"$ready"
        chmod 666 "$ready"
        (exec_as_user /usr/bin/xelsim --tcp "127.0.0.$n:10001" --seed 1) </dev/null >"$ready" 2>&1 &
        SIM_PID=$!
        i=0
        while [ $i -lt 50 ]; do
            if grep -q 'listening on' "$ready"; then
                SIM_ADDRESS=127.0.0.$n
                return 0
            fi
            kill -0 "$SIM_PID" 2>/dev/null || break
            sleep 0.1
            i=$((i + 1))
        done
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    done
    cat "$ready" >&2
    fail "xelsim could not listen on any loopback address"
}

stop_sim() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=
    fi
}
