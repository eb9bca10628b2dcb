#!/usr/bin/env bash
# The registry written by the Windows build, read back with `wine reg query`: value names, types and
# data exactly as other tools and older versions expect them.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
eval "$("$here/wine-run" "$build" --env)"

"$here/wine-run" "$build" "$build/tests/wine_registry_test.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='RegistryLayout.*' >/dev/null
out=$(wine reg query 'HKCU\Software\Tarvelon' 2>/dev/null | tr -d '\r')
wine reg delete 'HKCU\Software\Tarvelon' /f >/dev/null 2>&1 || true

fail=0
expect() {
    if ! grep -qE "^ +$1 +$2 +$3\$" <<<"$out"; then
        echo "missing or wrong: $1 $2 $3"
        fail=1
    fi
}
expect windowPosX REG_DWORD 0x200
expect windowPosY REG_DWORD 0x180
expect layout REG_DWORD 0x1
expect fontsize REG_DWORD 0xc
expect alwaysontop REG_DWORD 0x0
expect networkServerEnabled REG_DWORD 0x0
expect networkServerHostname REG_SZ "My Hostname"
expect networkServerPort REG_DWORD 0x201d
expect networkServerListen REG_SZ '\*'
expect networkServerList_05_Active REG_DWORD 0x1
expect networkServerList_05_Enabled REG_DWORD 0x1
expect networkServerList_05_Hostname REG_SZ gpu-box
expect networkServerList_05_Port REG_DWORD 0x201d
expect networkServerList_05_HighLatency REG_DWORD 0x0
expect removeDeadServer REG_DWORD 0x0
expect removeDeactivatedServer REG_DWORD 0x0
expect alarmGpuTempC REG_DWORD 0x0
expect alarmServerLost REG_DWORD 0x0
grep -qE '^ +networkServerAllow +REG_SZ *$' <<<"$out" || { echo "missing or wrong: networkServerAllow"; fail=1; }
grep -qE '^ +historyLogDirectory +REG_SZ *$' <<<"$out" || { echo "missing or wrong: historyLogDirectory"; fail=1; }
expect historyWindowX REG_DWORD 0x0
expect historyWindowY REG_DWORD 0x0
expect historyWindowWidth REG_DWORD 0x0
expect historyWindowHeight REG_DWORD 0x0
values=$(grep -cE '^ +[A-Za-z_0-9]+ +REG_' <<<"$out" || true)
if [ "$values" -ne 24 ]; then
    echo "expected 24 values, found $values"
    fail=1
fi
[ $fail -eq 0 ] || { echo "$out"; exit 1; }
echo "registry layout as expected"
