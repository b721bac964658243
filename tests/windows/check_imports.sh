#!/usr/bin/env bash
# Checks a Windows build of the intro: the machine and format it was built for, and that it imports no DLL
# beyond the system's own (so the zip needs nothing but the exe and data/).
# Usage: check_imports.sh TARNWICK.EXE i386|x86-64
set -u
exe=$1
arch=$2
allowed="kernel32.dll user32.dll gdi32.dll opengl32.dll glu32.dll winmm.dll msvcrt.dll"
case "$arch" in
i386) objdump=i686-w64-mingw32-objdump; format="pei-i386" ;;
x86-64) objdump=x86_64-w64-mingw32-objdump; format="pei-x86-64" ;;
*) echo "unknown machine $arch"; exit 2 ;;
esac
[ -f "$exe" ] || { echo "FAIL: no $exe"; exit 1; }
headers=$("$objdump" -p "$exe" 2>&1) || { echo "FAIL: $exe is not a PE file"; echo "$headers" | head -3; exit 1; }
status=0
echo "$headers" | grep -q "file format $format\$" || { echo "FAIL: $exe is not $format"; status=1; }
# Subsystem 2 is the windowed (GUI) one: no console window opens beside the intro.
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' || { echo "FAIL: $exe is not a GUI program"; status=1; }
imports=$(echo "$headers" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
[ -n "$imports" ] || { echo "FAIL: $exe imports nothing, which no Windows program does"; status=1; }
for dll in $imports; do
    case " $allowed " in
    *" $dll "*) ;;
    *) echo "FAIL: $exe imports $dll, which is not a system DLL"; status=1 ;;
    esac
done
[ $status = 0 ] && echo "PASS: $exe ($format) imports only: $(echo $imports)"
exit $status
