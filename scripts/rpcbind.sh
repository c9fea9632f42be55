# Sourced by the scripts: makes sure an rpcbind answers on this machine and
# remembers whether we started it, so that stop_rpcbind stops only our own.
STARTED_RPCBIND=""

start_rpcbind() {
  if rpcinfo -p 127.0.0.1 >/dev/null 2>&1; then
    return 0
  fi
  local sbin=/usr/sbin/rpcbind
  [[ -x $sbin ]] || sbin=$(command -v rpcbind)
  "$sbin" -w </dev/null >/dev/null 2>&1
  for _ in $(seq 50); do
    rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break
    sleep 0.1
  done
  STARTED_RPCBIND=$(pgrep -n -x rpcbind || true)
}

stop_rpcbind() {
  if [[ -n "$STARTED_RPCBIND" ]]; then
    kill "$STARTED_RPCBIND" 2>/dev/null || true
    STARTED_RPCBIND=""
  fi
}
