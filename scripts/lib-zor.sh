# Shell functions shared by the demo and the benchmarks (sourced, not run): waiting for a
# started zorserver and writing a launcher's connection settings.

# zor_wait_listening PID OUT LOG: waits up to 10 s until zorserver (process PID) has printed
# its "listening on" line to OUT; shows its log LOG and fails when it ended or never said so.
zor_wait_listening() {
  local pid=$1 out=$2 log=$3
  for _ in $(seq 100); do
    grep -q "listening on" "$out" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "zorserver is not listening:" >&2
  cat "$log" >&2
  return 1
}

# zor_client_settings ZORREG PORT RELEASE_KEY WAIT_INPUT_MS [HOST]: the settings a launcher
# needs to reach zorserver on HOST:PORT (default host 127.0.0.1) and to trust the release
# signed with RELEASE_KEY, in the registry folder $ZOR_REGISTRY_DIR.
zor_client_settings() {
  local zorreg=$1 port=$2 releaseKey=$3 waitInput=$4 host=${5:-127.0.0.1}
  local key='HKLM\Software\ZOR\DK880'
  "$zorreg" add "$key" /v ConnectType /t REG_DWORD /d 1 /f >/dev/null
  "$zorreg" add "$key" /v NetServer /t REG_SZ /d "$host" /f >/dev/null
  "$zorreg" add "$key" /v TCPPort /t REG_DWORD /d "$port" /f >/dev/null
  "$zorreg" add "$key" /v ShowNextTime /t REG_DWORD /d 1 /f >/dev/null
  "$zorreg" add "$key" /v WaitInput /t REG_DWORD /d "$waitInput" /f >/dev/null
  "$zorreg" add "$key" /v ReleaseKey /t REG_SZ /d "$releaseKey" /f >/dev/null
}
