#!/bin/sh
# zmod4710-sim watch in a terminal of tmux's: the view drawn, redrawn soon after
# another program's change, a state that cannot be read told in the view, a
# terminal too small told and a resize redrawn, next to no CPU while nothing
# changes, and q and Ctrl-C leaving the terminal as it was; then, with no
# terminal, a line a change.
#
#   check-watch.sh ZMOD4710_SIM AO_POWER_ON
set -eu
sim=$1
power_on=$2
work=$(mktemp -d)
server="zmod4710-watch-$$"
trap 'tmux -L "$server" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
export ZMOD4710_SIM_STATE="$work/backplane.json" ZMOD4710_SIM_TRACE="$work/trace.txt"

fail() {
    echo "check-watch: $*" >&2
    tmux -L "$server" capture-pane -p -t watch >&2 2>/dev/null || true
    exit 1
}

screen() {
    tmux -L "$server" capture-pane -p -t watch
}

# Milliseconds now, from the kernel's clock.
now() {
    awk '{ printf "%d\n", $1 * 1000 }' /proc/uptime
}

# Waits up to $2 milliseconds for the screen to hold $1; how long it took.
await() {
    started=$(now)
    until screen | grep -qF -- "$1"; do
        [ $(($(now) - started)) -le "$2" ] || fail "not on the screen within $2 ms: $1"
        sleep 0.02
    done
    echo $(($(now) - started))
}

# Seconds of CPU the process has used, in clock ticks.
ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# The watch run by a shell that compares the terminal's settings before and
# after it: what a program that left it raw or without echo would change.
watched="settings() { stty -a | tr ' ;' '\\n\\n' | grep -xE -- '-?(icanon|echo|isig|icrnl|opost)'; }
before=\$(settings); TERM=screen $sim watch; echo \"exit \$?\"
[ \"\$(settings)\" = \"\$before\" ] && echo \"the terminal as it was:\" \$before; sleep 60"
tmux -L "$server" -f /dev/null new-session -d -s watch -x 100 -y 30 "$watched"
await "Slot 0: ZM-4710, firmware 3, power-on mode 1 (power-on value)" 3000 >/dev/null
screen | grep -qF "Refusals pending: none" || fail "no refusals line"

# Another program's change, redrawn at once: the tool's write, its bar, its call.
"$sim" refuse GetFirmwareVersion --slot 3 >/dev/null
await "Refusals pending: zmod4710_GetFirmwareVersion, slot 3: result -4, the next call" 1000 >/dev/null
printf '4\n12\n1\n1\n4\n' | "$power_on" >/dev/null &
took=$(await "  CH 1  12.000 mA [##########          ] 4 ~ 20mA  power-on   4.000 mA 4 ~ 20mA" 1000)
wait
await "zmod4710_WritePowerOn_AO(0, 1, 4, 4) = 0" 1000 >/dev/null
echo "check-watch: redrawn $took ms after the tool's run began"

# Nothing changes for three seconds: at most 1% of a core.
pid=$(tmux -L "$server" list-panes -t watch -F '#{pane_pid}')
watcher=$(pgrep -P "$pid" -f "watch" || echo "$pid")
before=$(ticks "$watcher")
sleep 3
used=$(($(ticks "$watcher") - before))
ticks_a_second=$(getconf CLK_TCK)
[ "$used" -le $((3 * ticks_a_second / 100)) ] || fail "$used ticks of CPU in 3 idle seconds"

# A state that cannot be read is told in the view, which waits for one that can.
printf '{' >"$ZMOD4710_SIM_STATE"
await "  $ZMOD4710_SIM_STATE is not a backplane state" 1000 >/dev/null
"$sim" reset >/dev/null 2>&1 || rm -f "$ZMOD4710_SIM_STATE"
"$sim" insert 5 --module ZM-4704 >/dev/null
await "Slot 5: ZM-4704, firmware 3" 1000 >/dev/null

# Too small, told; larger again, redrawn.
tmux -L "$server" resize-window -t watch -x 60 -y 12
await "The terminal is too small (60x12):" 1000 >/dev/null
tmux -L "$server" resize-window -t watch -x 100 -y 30
await "Slot 5: ZM-4704, firmware 3" 1000 >/dev/null

# q leaves the terminal as it was: its status 0, and the settings a shell had.
tmux -L "$server" send-keys -t watch q
await "exit 0" 1000 >/dev/null
await "the terminal as it was: icrnl opost isig icanon echo" 1000 >/dev/null
tmux -L "$server" kill-session -t watch

# So does Ctrl-C.
tmux -L "$server" -f /dev/null new-session -d -s watch -x 100 -y 30 "$watched"
await "Slot 5: ZM-4704" 3000 >/dev/null
tmux -L "$server" send-keys -t watch C-c
await "exit 0" 1000 >/dev/null
await "the terminal as it was: icrnl opost isig icanon echo" 1000 >/dev/null

# With no terminal, a line a change, each begun with the time.
logged() {
    tries=0
    until grep -qF -- "$1" "$work/log"; do
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || fail "not logged within 2 s: $1"
        sleep 0.02
    done
}
"$sim" watch >"$work/log" 2>&1 &
logger=$!
logged "refusals pending: none"
"$sim" remove 5 >/dev/null
"$sim" calibrate 0 0 0 --gain 1 --offset 1 >/dev/null # no output changed: no line
"$sim" refuse WriteAO >/dev/null
logged "refusals pending: zmod4710_WriteAO"
kill -TERM "$logger"
wait "$logger" || fail "watch ended with $? on a termination"
sed 's/^[0-9T:.-]*Z //' "$work/log" | tail -n 2 >"$work/changes"
printf '%s\n' "slot 5: empty" \
    "refusals pending: zmod4710_WriteAO, any slot, any channel: result -4, the next call" \
    >"$work/expected"
cmp -s "$work/changes" "$work/expected" || fail "the lines logged: $(cat "$work/log")"
grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{15}Z ' "$work/log" && fail "a line without its time"
echo "check-watch: the view, its redraws, its refusals and its lines are as they should be"
