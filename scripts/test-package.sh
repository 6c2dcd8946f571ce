#!/usr/bin/env bash
# test-package.sh PACKAGE VERSION CLIENT: the installer package in a fresh Wine prefix, as a user
# meets it. Run by ctest in both builds (TEST_ARCH says which client: PackageClient.exe of that
# build, so the 32-bit build checks the 32-bit registration and the 64-bit build the 64-bit one).
#   1. snapshot of the new prefix (registry and drive C:)
#   2. per user: msiexec /i /qn; what it wrote is under HKEY_CURRENT_USER\Software\Classes and
#      nothing under HKEY_LOCAL_MACHINE's classes; the client creates the classes when this Wine
#      sees per-user classes (this one does not: reported, see README); msiexec /x; nothing left
#   3. per machine (ALLUSERS=1): a lower version first, then this one over it (the upgrade
#      removes the lower one; the lower one then refuses to go over it); the client creates each class by ProgID and runs its round; the
#      servers' own DllRegisterServer changes nothing the package wrote; Snoopet's settings are
#      written; msiexec /x; the settings are all that is left
# The prefix lives in build/<arch>/package-test (kept when the test fails). KEEP_PACKAGE_PREFIX=1
# keeps it always.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
package="${1:?usage: test-package.sh PACKAGE VERSION CLIENT}" version="${2:?}" client="${3:?}"
[ -f "$package" ] || { echo "FAIL no package $package (scripts/build.sh makes it)"; exit 1; }

work="$TEST_BUILD/package-test"
wineserver_of() { WINEPREFIX="$1" bash -c 'source "$0/scripts/env.sh"; wineserver -k' "$ROOT" 2>/dev/null || true; }
[ -d "$work/prefix" ] && wineserver_of "$work/prefix"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix"
snap() { python3 "$ROOT/scripts/package-snapshot.py" "$@"; }
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
step() { echo "--- $*"; }
# Stops the prefix's server (it writes the registry files as it ends), then takes a snapshot.
snapshot() { wineserver -k 2>/dev/null; snap take "$WINEPREFIX" "$work/$1.snap"; }
msiexec() { TEST_ARCH=win64 timeout 300 bash "$ROOT/scripts/wine-run.sh" msiexec "$@" >>"$work/msiexec.log" 2>&1; }
regvalue() {  # KEY NAME: the value as reg.exe prints it, or nothing
  TEST_ARCH=win64 bash "$ROOT/scripts/wine-run.sh" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
    | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
finish() {
  wineserver -k 2>/dev/null
  if [ "$fails" -eq 0 ] && [ -z "${KEEP_PACKAGE_PREFIX:-}" ]; then rm -rf "$work"; fi
  echo "package test ($TEST_ARCH): $fails failure(s)"
  [ "$fails" -eq 0 ]
  exit $?
}

# The lower version that the upgrade starts from: the same files under an older number.
IFS=. read -r major minor build <<<"$version"
if [ "$build" -gt 0 ]; then lower="$major.$minor.$((build - 1))"
elif [ "$minor" -gt 0 ]; then lower="$major.$((minor - 1)).0"
else lower="$((major - 1)).0.0"; fi
python3 "$ROOT/scripts/make-msi.py" --version "$lower" --build32 "$BUILD32" --build64 "$BUILD64" \
  --source "$ROOT" --out "$work/old/Hookwire-$lower.msi" >/dev/null || { fail "making the $lower package"; finish; }
old_code="$(msiinfo export "$work/old/Hookwire-$lower.msi" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')"
new_code="$(msiinfo export "$package" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' | tr -d '\r')"

step "fresh prefix"
start=$SECONDS
TEST_ARCH=win64 bash "$ROOT/scripts/wine-run.sh" wineboot --init >/dev/null 2>&1
TEST_ARCH=win64 bash "$ROOT/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
snapshot before
echo "prefix ready in $((SECONDS - start)) s"
user_name="$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -n 1)"

check_clean() {  # FILE NAME WHAT: what is left against the first snapshot, less the lines FILE allows (patterns)
  snapshot "$2"
  snap diff "$work/before.snap" "$work/$2.snap" >"$work/$2.diff"
  local left
  left="$(grep -vxE -f "${1:-/dev/null}" "$work/$2.diff" || true)"
  if [ -n "$left" ]; then
    fail "$3 left $(wc -l <<<"$left") entries behind:"
    head -n 40 <<<"$left"
  else
    echo "$3: registry and drive C: as before ($(wc -l <"$work/before.snap") entries compared)"
  fi
}

client_folder() {  # the folder holding the servers for this build's bitness
  local base="$1"
  [ "$TEST_ARCH" = win64 ] && base="$base\\x64"
  echo "$base"
}

# The Windows Installer's own containers, made empty at its first install and kept (they hold the
# bookkeeping of every installed product, so they are no product's to remove).
cat >"$work/installer.allowed" <<'EOF'
\+ DIR windows\\Installer
\+ DIR users\\[^\\]+\\AppData\\Roaming\\Microsoft\\Installer
\+ KEY HKLM\\Software\\Classes\\Installer\\(Features|Products|UpgradeCodes)
\+ KEY HKCU\\Software\\Microsoft\\Installer\\(Features|Products|UpgradeCodes)
\+ KEY HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes
\+ KEY HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-[0-9-]+\\(Components|Products)
EOF

# --- per user ---------------------------------------------------------------------------------
step "per-user install"
# ALLUSERS="" asks for per user from any Windows Installer (this Wine's msiexec takes the package's
# ALLUSERS=2 as per machine: it does not know MSIINSTALLPERUSER).
msiexec /i "$(winpath "$package")" /qn 'ALLUSERS=""' || fail "per-user msiexec /i (exit $?; log $work/msiexec.log)"
snapshot user-installed
snap diff "$work/before.snap" "$work/user-installed.snap" >"$work/user-installed.diff"
added_user_classes="$(grep -c '^+ REG HKCU\\Software\\Classes\\' "$work/user-installed.diff")"
added_machine_classes="$(grep -cE '^\+ (REG|KEY) HKLM\\Software\\(Wow6432Node\\)?Classes\\' "$work/user-installed.diff")"
echo "per user: $added_user_classes values under HKCU\\Software\\Classes, $added_machine_classes entries under HKLM's classes"
[ "$added_user_classes" -gt 0 ] || fail "per-user install wrote no class registration under HKCU\\Software\\Classes"
[ "$added_machine_classes" -eq 0 ] || fail "per-user install wrote under HKEY_LOCAL_MACHINE's classes"
for clsid in 602B8906-F7EA-11D1-9825-204C4F4F5020 07E02C91-3CEA-11D2-8E71-008048E27A77; do
  grep -qiE "^\+ REG HKCU\\\\Software\\\\Classes\\\\(Wow6432Node\\\\)?CLSID\\\\\{$clsid\}\\\\InprocServer32\\\\\\\\@ = " "$work/user-installed.diff" \
    || fail "per user: no InprocServer32 for {$clsid}"
done
grep -qiE '^\+ FILE users\\'"$user_name"'\\.*Start Menu\\Programs\\Hookwire\\Snoopet\.lnk ' "$work/user-installed.diff" \
  || fail "per user: no Snoopet shortcut in the user's Start menu"
user_dir="$(grep -v 'Microsoft\\Installer\\' "$work/user-installed.diff" | sed -nE 's/^\+ FILE (.*)\\Snoopet\.exe [0-9]+ [0-9a-f]+$/C:\\\1/p')"
echo "per user: installed into $user_dir"
[ -n "$user_dir" ] || fail "per user: Snoopet.exe was not installed"
TEST_ARCH=$TEST_ARCH bash "$ROOT/scripts/wine-run.sh" "$client" "$(client_folder "$user_dir")" >"$work/client-user.log" 2>&1
status=$?
case $status in
  0) echo "per user: the client created every class by its ProgID and ran its round" ;;
  10) if grep -q '0x800401F3' "$work/client-user.log"; then
        echo "per user: this Wine does not look under HKCU\\Software\\Classes (CLSIDFromProgID 0x800401F3), as known; creation is tested per machine"
      else fail "per user: client exit 10 without CO_E_CLASSSTRING"; cat "$work/client-user.log"; fi ;;
  *) fail "per user: client exit $status"; cat "$work/client-user.log" ;;
esac
step "per-user uninstall"
msiexec /x "$(winpath "$package")" /qn 'ALLUSERS=""' || fail "per-user msiexec /x (exit $?)"
check_clean "$work/installer.allowed" user-removed "per-user uninstall"

# --- per machine, upgrade -----------------------------------------------------------------------
step "per-machine install of $lower, then $version over it"
msiexec /i "$(winpath "$work/old/Hookwire-$lower.msi")" /qn ALLUSERS=1 || fail "msiexec /i $lower (exit $?)"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
[ "$(regvalue "$uninstall_key\\$old_code" DisplayVersion)" = "$lower" ] || fail "$lower is not installed per machine"
msiexec /i "$(winpath "$package")" /qn ALLUSERS=1 || fail "msiexec /i $version over $lower (exit $?)"
[ -z "$(regvalue "$uninstall_key\\$old_code" DisplayVersion)" ] || fail "the upgrade left $lower installed"
[ "$(regvalue "$uninstall_key\\$new_code" DisplayVersion)" = "$version" ] || fail "$version is not installed after the upgrade"
msiexec /i "$(winpath "$work/old/Hookwire-$lower.msi")" /qn ALLUSERS=1 && fail "$lower installed over $version"
[ "$(regvalue "$uninstall_key\\$new_code" DisplayVersion)" = "$version" ] || fail "trying $lower over $version removed $version"
[ -z "$(regvalue "$uninstall_key\\$old_code" DisplayVersion)" ] || fail "$lower was installed over $version"
snapshot machine-installed
snap diff "$work/before.snap" "$work/machine-installed.snap" >"$work/machine-installed.diff"
grep -qE '^\+ (REG|KEY) HKCU\\Software\\Classes\\' "$work/machine-installed.diff" && fail "per machine: class registration under HKCU"
# Windows puts it into the common Start menu; this Wine's msi into the user's one either way.
grep -qiE '^\+ FILE (ProgramData|users\\[^\\]+\\AppData\\Roaming)\\Microsoft\\Windows\\Start Menu\\Programs\\Hookwire\\Snoopet\.lnk ' \
  "$work/machine-installed.diff" || fail "per machine: no Snoopet shortcut in the Start menu"
machine_dir='C:\Program Files (x86)\Hookwire'
grep -qiE '^\+ FILE Program Files \(x86\)\\Hookwire\\x64\\Hookwire\.dll ' "$work/machine-installed.diff" \
  || fail "per machine: not installed into $machine_dir"
step "the client, by ProgID"
TEST_ARCH=$TEST_ARCH bash "$ROOT/scripts/wine-run.sh" "$client" "$(client_folder "$machine_dir")" >"$work/client-machine.log" 2>&1 \
  || fail "per machine: client exit $?"
cat "$work/client-machine.log"

step "the servers' own registration over the package's"
for dll in "Hookwire.dll" "Glyphary.dll"; do
  TEST_ARCH=win32 bash "$ROOT/scripts/wine-run.sh" 'C:\windows\syswow64\regsvr32.exe' /s "$machine_dir\\$dll" >/dev/null 2>&1 \
    || fail "32-bit regsvr32 $dll"
  TEST_ARCH=win64 bash "$ROOT/scripts/wine-run.sh" 'C:\windows\system32\regsvr32.exe' /s "$machine_dir\\x64\\$dll" >/dev/null 2>&1 \
    || fail "64-bit regsvr32 $dll"
done
snapshot self-registered
if snap diff "$work/machine-installed.snap" "$work/self-registered.snap" >"$work/self-registered.diff"; then
  echo "DllRegisterServer of all four servers changed nothing the package wrote"
else
  fail "the package's registration differs from the servers' own:"; head -n 40 "$work/self-registered.diff"
fi

step "per-machine uninstall, Snoopet's settings written before"
settings='HKCU\Software\VB and VBA Program Settings\Snoopet\Position'
TEST_ARCH=win64 bash "$ROOT/scripts/wine-run.sh" reg add "$settings" /v Left /t REG_SZ /d 1200 /f >/dev/null 2>&1
msiexec /x "$(winpath "$package")" /qn ALLUSERS=1 || fail "per-machine msiexec /x (exit $?)"
cat >"$work/settings.allowed" <<'EOF'
\+ KEY HKCU\\Software\\VB and VBA Program Settings(\\Snoopet(\\Position)?)?
\+ REG HKCU\\Software\\VB and VBA Program Settings\\Snoopet\\Position\\\\"Left" = "1200"
EOF
cat "$work/installer.allowed" >>"$work/settings.allowed"
check_clean "$work/settings.allowed" machine-removed "per-machine uninstall"
grep -qxF '+ REG HKCU\Software\VB and VBA Program Settings\Snoopet\Position\\"Left" = "1200"' "$work/machine-removed.diff" \
  || fail "Snoopet's settings did not stay"
finish
