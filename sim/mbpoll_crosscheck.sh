#!/usr/bin/env bash
# Cross-checks metersim with mbpoll, a Modbus master that shares no code with the tool: what
# mbpoll reads must be what metersim says it holds, and what mbpoll writes must land there.
# Usage: mbpoll_crosscheck.sh PATH-TO-METERSIM. Exit 77 (skipped) without mbpoll.
set -uo pipefail

metersim=$1
command -v mbpoll >/dev/null || { echo "mbpoll is not installed"; exit 77; }

dir=$(mktemp -d)
link=$dir/meter
failures=0
cleanup() {
  if [ -n "${SIM_PID:-}" ]; then
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

coproc SIM {
  exec "$metersim" --link "$link" --clock "2006-11-15 10:30:45" --currents 4321,7,60000 \
    --set relay-switch=0x0201 --set upper=1500 2>"$dir/err"
}
read -r -t 10 -u "${SIM[0]}" line
case "$line" in
  ready*) echo "$line" ;;
  *) echo "metersim did not get ready: $line $(cat "$dir/err")"; exit 1 ;;
esac

check() { # what expected actual
  if [ "$2" == "$3" ]; then
    echo "ok    $1: $3"
  else
    echo "FAIL  $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

# metersim's own view of a register: "get 0x0302" -> "upper = 1500" -> 1500.
held() {
  echo "get $1" >&"${SIM[1]}"
  local reply
  read -r -t 5 -u "${SIM[0]}" reply
  echo "${reply##* = }"
}

# mbpoll at address A and rate B (defaults 1 and 9600); its values one per line, or its error.
poll() {
  mbpoll -m rtu -b "${B:-9600}" -P none -s 2 -a "${A:-1}" -0 -1 -o 0.5 "$@" 2>&1 |
    sed -nE 's/^\[[0-9]+\]:\s+([0-9]+).*/\1/p; s/.*failed: (.*)/\1/p; s/^(Written .*)/\1/p'
}

for group in "0x0000 3" "0x0006 1" "0x0016 1" "0x0110 3" "0x0302 1" "0x0304 1" "0x0308 1"; do
  set -- $group
  mapfile -t values < <(poll -r "$1" -c "$2" "$link")
  for ((k = 0; k < $2; k++)); do
    reg=$(printf '0x%04X' $(($1 + k)))
    check "read $reg" "$(held "$reg")" "${values[k]:-}"
  done
done

check "write 0x0302 (0x06)" "Written 1 references." "$(poll -r 0x0302 "$link" 777)"
check "upper held" 777 "$(held upper)"
check "write 0x0002 (0x06)" "Written 1 references." "$(poll -r 0x0002 "$link" 4)"
check "wiring held" 4 "$(held wiring)"
check "write 0x0004 (0x10)" "Written 2 references." "$(poll -r 0x0004 "$link" 250 0)"
check "ct held" 250 "$(held ct)"
check "read back 0x0302" 777 "$(poll -r 0x0302 "$link")"

check "unknown register" "Illegal data address" "$(poll -r 0x0003 "$link")"
check "read across an unknown register" "Illegal data address" "$(poll -r 0x0302 -c 2 "$link")"
check "unknown function" "Illegal function" "$(poll -t 3 -r 0x0000 "$link")"
check "read-only register written" "Illegal data address" "$(poll -r 0x0016 "$link" 1)"
check "PT written with 0x06" "Illegal data address" "$(poll -r 0x0000 "$link" 5)"
check "upper written with 0x10" "Illegal data address" "$(poll -r 0x0302 "$link" 5 6)"
check "wiring code 6 refused" "Illegal data value" "$(poll -r 0x0002 "$link" 6)"
check "rate code 5 refused" "Illegal data value" "$(poll -r 0x0008 "$link" 5)"
check "address 0 refused" "Illegal data value" "$(poll -r 0x0300 "$link" 0)"
check "refusals change nothing" "1 3" "$(held address) $(held link-baud)"

check "address write answered from 1" "Written 1 references." "$(poll -r 0x0300 "$link" 9)"
check "address 1 silent" "Connection timed out" "$(poll -r 0x0302 "$link")"
check "address 9 answers" 777 "$(A=9 poll -r 0x0302 "$link")"

check "rate write answered at 9600" "Written 1 references." "$(A=9 poll -r 0x0008 "$link" 4)"
check "9600 not heard" "Connection timed out" "$(A=9 poll -r 0x0302 "$link")"
check "19200 answers" 777 "$(A=9 B=19200 poll -r 0x0302 "$link")"
check "parameter block follows the rate" 4 "$(A=9 B=19200 poll -r 0x0308 "$link")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
