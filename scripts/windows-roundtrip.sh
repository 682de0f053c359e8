#!/usr/bin/env bash
# Settings moved between a Linux store and the Windows registry (under Wine) in both directions,
# with our ostrove-reg on each side and with Wine's own regedit as a second reader and writer:
#   scripts/windows-roundtrip.sh LINUX_OSTROVE_REG WINDOWS_FOLDER [SCREENSHOT.png]
# Every way round must give the same keys and value bytes (the order of values may differ: Wine
# lists them sorted). With a screenshot path, OstroveConf.exe is also shown under Xvfb on the
# imported settings and photographed. Exits non-zero on the first difference.
set -euo pipefail
trap 'echo "windows-roundtrip: line $LINENO failed (exit $?): $BASH_COMMAND" >&2' ERR
linux_reg=$(realpath "$1")
folder=$(realpath "$2")
screenshot=${3:+$(realpath -m "$3")}
scripts=$(realpath "$(dirname "$0")")
scratch=$(mktemp -d)
trap 'WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
cd "$scratch"
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
"$scripts/wine-prefix.sh" "$WINEPREFIX" ${screenshot:+gui}

# Each value line under its key, sorted: the same set of keys and values, whatever the order.
normalized() {
    iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' \
        | awk '/^\[/{key=$0; print key; next} /^$/||/^Windows Registry/{next} {print key " " $0}' \
        | sort
}
same() {
    if ! diff <(normalized "$1") <(normalized "$2"); then
        echo "windows-roundtrip: $1 and $2 differ" >&2
        exit 1
    fi
    echo "same keys and values: $1 $2"
}
wine_reg() { wine "$folder/ostrove-reg.exe" "$@"; }
settings='HKEY_LOCAL_MACHINE\Software\Zel Software\Ostrove'

# Settings as a person on Linux has them, letters beyond ASCII included (in code page 1252 too).
printf '%s\n' 'REGEDIT4' '' \
    "[$settings]" '"ScanEvery"=dword:0000000f' '"Language"="English"' '' \
    "[$settings\\Accounts\\anna@example.org]" '"Pop3"="pop.example.org"' '"Login"="anna"' \
    '"Password"="3A5F0C"' '"SSL"=dword:00000001' '' \
    "[$settings\\Accounts\\jan.kowalski@poczta.pl]" '"Pop3"="pop3.poczta.pl"' \
    '"Login"="jan.kowalski"' '"Password"="00"' '"SSL"=dword:00000000' '' \
    "[$settings\\MailFilter]" '"*@spam.example"=""' '"café*@x.org"=""' '' \
    "[$settings\\SubjectFilter]" '"casino"=""' '' \
    "[$settings\\Attachments\\*.scr]" '"SizeFrom"=dword:00000000' '"SizeTo"=dword:00000064' \
    >seed.reg
OSTROVE_REGISTRY=$scratch/linux.db "$linux_reg" import seed.reg >/dev/null
OSTROVE_REGISTRY=$scratch/linux.db "$linux_reg" export linux.reg

# Linux -> Windows with ostrove-reg.exe, and back out of the registry.
wine_reg import linux.reg >/dev/null
wine_reg export windows.reg
same linux.reg windows.reg
# Wine's regedit reads what the Linux side wrote as ostrove-reg.exe does.
wine reg delete "$settings" /f >/dev/null
wine regedit /s linux.reg
wine_reg export regedit-imported.reg
same linux.reg regedit-imported.reg
# Windows -> Linux: regedit's own export, read by the Linux ostrove-reg into a new store.
wine regedit /e regedit.reg "$settings"
OSTROVE_REGISTRY=$scratch/back.db "$linux_reg" import regedit.reg >/dev/null
OSTROVE_REGISTRY=$scratch/back.db "$linux_reg" export back.reg
same linux.reg back.reg

if [ -n "$screenshot" ]; then
    cat >show.sh <<SHOW
#!/bin/sh
wine "$folder/OstroveConf.exe" & program=\$!
sleep 6
import -window root "$screenshot"
kill \$program
SHOW
    chmod +x show.sh
    wineserver -k
    xvfb-run -a -s '-screen 0 1024x700x24' ./show.sh
    echo "screenshot: $screenshot"
fi
