# Holding the real program still for a look: sourced by the end-to-end
# scripts, which define $pixels (kestrel-window-pixels), $window, $work,
# $kestrel_pid, alive and fail.

# Stops the program (SIGSTOP) and waits until it is stopped: no tick runs
# and no event is handled until `kill -CONT`, while events sent meanwhile
# wait for it.
stop_program() {
  kill -STOP "$kestrel_pid"
  until [ "$(awk '{ print $3 }' "/proc/$kestrel_pid/stat" 2>/dev/null)" = T ]; do
    alive "a stop"
    sleep 0.01
  done
}

# What kestrel-window-pixels says of the stopped program's window, once the
# X server has drawn all the program sent before it stopped: two looks in a
# row alike. Given FILE, the picture is saved there too.
settled_look() {
  local look previous=''
  for _ in $(seq 100); do
    look=$("$pixels" "$window" --save "$work/look.png" 2>/dev/null) || fail "cannot grab the window"
    look+=$'\n'$(cksum <"$work/look.png")
    if [ "$look" = "$previous" ]; then
      [ -n "${1:-}" ] && cp "$work/look.png" "$1"
      sed '$d' <<<"$look"
      return 0
    fi
    previous=$look
  done
  fail "the stopped window's picture does not settle"
}
